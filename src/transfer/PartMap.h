#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bytes [begin, end) of a file.
struct ByteRange {
    std::int64_t begin = 0;
    std::int64_t end = 0;

    std::int64_t Size() const { return end - begin; }
    bool operator==(const ByteRange&) const = default;
};

// Which bytes of a file of a known size have been written, for a file written in parts at their
// offsets. Ranges that touch are joined, so the map stays as short as the gaps are few.
class PartMap {
public:
    explicit PartMap(std::int64_t total = 0) : total_(total) {}

    // "TOTAL BEGIN-END BEGIN-END ...", ascending ranges that neither touch nor leave the total;
    // none for any other text.
    static std::optional<PartMap> FromText(std::string_view text);
    std::string ToText() const;

    std::int64_t Total() const { return total_; }
    // Marks [begin, end) written; parts outside the total are cut off.
    void Add(std::int64_t begin, std::int64_t end);
    std::int64_t WrittenBytes() const;
    // Where the first gap begins: the bytes written without a gap from the first byte.
    std::int64_t WrittenFromStart() const;
    bool IsComplete() const { return WrittenFromStart() == total_; }
    // The gaps, in order.
    std::vector<ByteRange> Missing() const;

    bool operator==(const PartMap&) const = default;

private:
    std::int64_t total_;
    std::map<std::int64_t, std::int64_t> written_; // begin -> end
};
