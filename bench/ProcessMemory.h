#pragma once

// Resident memory of this process, in kilobytes (Linux /proc/self).

long CurrentKilobytes();
// The highest resident size since the process started or since the last ResetPeak().
long PeakKilobytes();
void ResetPeak();
