#include "DownloadItem.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <limits>

bool IsStartable(DownloadState state) {
    return state == DownloadState::Ready || state == DownloadState::Error ||
           state == DownloadState::Pause;
}

const char* StateText(DownloadState state) {
    switch (state) {
    case DownloadState::Waiting:
        return "Waiting";
    case DownloadState::Ready:
        return "Ready";
    case DownloadState::Queue:
        return "Queue";
    case DownloadState::Progress:
        return "Progress";
    case DownloadState::Done:
        return "Done";
    case DownloadState::Error:
        return "Error";
    case DownloadState::Pause:
        return "Pause";
    }
    return "";
}

std::string DownloadItem::ToRecord() const {
    std::string record;
    record.reserve(fileName.size() + tempPath.size() + url.size() + 64);
    for (const std::string* text : {&fileName, &tempPath, &url}) {
        record += std::to_string(text->size());
        record += ':';
        record += *text;
        record += ';';
    }
    record += std::to_string(percent) + ';';
    record += std::to_string(reserved) + ';';
    record += std::to_string(totalSize) + ';';
    record += std::to_string(static_cast<std::int32_t>(state)) + ';';
    return record;
}

namespace {

// Reads a number the way atoi/_atoi64 do: leading white space, an optional sign, decimal digits
// up to the first other character; no digits give 0. Out-of-range values saturate.
std::int64_t ReadNumber(const std::string& text, std::size_t begin, std::size_t end) {
    std::size_t at = begin;
    while (at < end && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < end && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Past the range, the value stays just beyond it however many digits follow.
    constexpr std::uint64_t limit = std::numeric_limits<std::int64_t>::max();
    std::uint64_t value = 0;
    for (; at < end && text[at] >= '0' && text[at] <= '9'; ++at) {
        const unsigned digit = static_cast<unsigned>(text[at] - '0');
        value = value > limit / 10 ? limit + 1 : std::min(value * 10 + digit, limit + 1);
    }
    if (negative) {
        return value > limit ? std::numeric_limits<std::int64_t>::min()
                             : -static_cast<std::int64_t>(value);
    }
    return value > limit ? std::numeric_limits<std::int64_t>::max()
                         : static_cast<std::int64_t>(value);
}

std::int32_t ReadNumber32(const std::string& text, std::size_t begin, std::size_t end) {
    const std::int64_t value = ReadNumber(text, begin, end);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

// Reads "<length>:<bytes>" starting at 'at' into field and moves 'at' past the byte that follows
// the string (the writer's ";", not examined). False on a fault, with field set as far as read.
bool ReadString(const std::string& text, std::size_t& at, std::string& field) {
    const std::size_t colon = at <= text.size() ? text.find(':', at) : std::string::npos;
    if (colon == std::string::npos) {
        return false;
    }
    const std::int64_t length = ReadNumber(text, at, colon);
    if (length < 0) {
        field.clear();
        return false;
    }
    const std::size_t available = text.size() - (colon + 1);
    if (static_cast<std::uint64_t>(length) > available) {
        field = text.substr(colon + 1);
        return false;
    }
    field = text.substr(colon + 1, static_cast<std::size_t>(length));
    at = colon + 1 + static_cast<std::size_t>(length) + 1;
    return true;
}

// Finds the ";" that ends a number field starting at 'at'; npos when there is none.
std::size_t NumberEnd(const std::string& text, std::size_t at) {
    return at <= text.size() ? text.find(';', at) : std::string::npos;
}

} // namespace

bool DownloadItem::FromRecord(const std::string& record) {
    std::size_t at = 0;
    if (!ReadString(record, at, fileName) || !ReadString(record, at, tempPath) ||
        !ReadString(record, at, url)) {
        return false;
    }
    std::size_t end = NumberEnd(record, at);
    if (end == std::string::npos) {
        return false;
    }
    percent = ReadNumber32(record, at, end);
    at = end + 1;
    if ((end = NumberEnd(record, at)) == std::string::npos) {
        return false;
    }
    reserved = ReadNumber32(record, at, end);
    at = end + 1;
    if ((end = NumberEnd(record, at)) == std::string::npos) {
        return false;
    }
    totalSize = ReadNumber(record, at, end);
    at = end + 1;
    if ((end = NumberEnd(record, at)) == std::string::npos) {
        return false;
    }
    state = static_cast<DownloadState>(ReadNumber32(record, at, end));
    return true;
}

std::string SavedFilePath(const DownloadItem& item) {
    return (std::filesystem::path(item.tempPath).parent_path() / item.fileName).string();
}
