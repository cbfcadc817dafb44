#pragma once

#include "TransferActivity.h"

#include <optional>

// What this run learned of an item, kept in memory only: what its transfer reports while it
// runs, and how it ended (or, for an item loaded from the list, what its temporary file holds).
struct ItemRun {
    std::optional<TransferActivity> activity;
    std::optional<TransferEnd> end;
};
