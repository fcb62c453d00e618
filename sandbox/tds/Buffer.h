// The growing little-endian byte buffer tokens are written into, with the
// string forms TDS uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sandbox::tds {

// Little-endian byte buffer with the string forms TDS uses.
class TokenBuffer {
public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void raw(const std::uint8_t* data, std::size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    void ucs2(std::u16string_view text);        // UCS-2 LE, no length
    void bVarChar(std::u16string_view text);    // 1-byte character count (at most 255 kept)
    void usVarChar(std::u16string_view text);   // 2-byte character count
    // Patches a 2-byte length at `at` with the byte count written after it.
    void patchLength16(std::size_t at);

    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    void clear() { bytes_.clear(); }

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace sandbox::tds
