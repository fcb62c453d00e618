// Writers for the TDS 7.1 tokens the sandbox sends, into a growing buffer.
#pragma once

#include "sandbox/sql/Result.h"
#include "sandbox/tds/Version.h"

#include <array>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::tds {

namespace token {
constexpr std::uint8_t ColMetadata = 0x81;
constexpr std::uint8_t Error = 0xAA;
constexpr std::uint8_t Info = 0xAB;
constexpr std::uint8_t ReturnValue = 0xAC;
constexpr std::uint8_t LoginAck = 0xAD;
constexpr std::uint8_t ReturnStatus = 0x79;
constexpr std::uint8_t Row = 0xD1;
constexpr std::uint8_t EnvChange = 0xE3;
constexpr std::uint8_t Done = 0xFD;
constexpr std::uint8_t DoneProc = 0xFE;
constexpr std::uint8_t DoneInProc = 0xFF;
} // namespace token

namespace envchange {
constexpr std::uint8_t Database = 1;
constexpr std::uint8_t Language = 2;
constexpr std::uint8_t PacketSize = 4;
constexpr std::uint8_t Collation = 7;
} // namespace envchange

// DONE status bits only the session sets.
namespace donebits {
constexpr std::uint16_t More = 0x0001;
constexpr std::uint16_t Attention = 0x0020;
} // namespace donebits

namespace wiretype {
constexpr std::uint8_t IntN = 0x26;
constexpr std::uint8_t Int1 = 0x30;
constexpr std::uint8_t Int2 = 0x34;
constexpr std::uint8_t Int4 = 0x38;
constexpr std::uint8_t DateTime = 0x3D;
constexpr std::uint8_t DateTimeN = 0x6F;
constexpr std::uint8_t Int8 = 0x7F;
constexpr std::uint8_t BigVarBinary = 0xA5;
constexpr std::uint8_t BigVarChar = 0xA7;
constexpr std::uint8_t NText = 0x63;
constexpr std::uint8_t NVarChar = 0xE7;
constexpr std::uint8_t NChar = 0xEF;
} // namespace wiretype

// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409 with its flags, sort id 52.
constexpr std::array<std::uint8_t, 5> DefaultCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};
// 8.00.2039: SQL Server 2000 SP4.
constexpr std::array<std::uint8_t, 4> ServerVersion = {0x08, 0x00, 0x07, 0xF7};

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

void writeEnvChange(TokenBuffer& out, std::uint8_t type, std::u16string_view newValue, std::u16string_view oldValue);
void writeCollationChange(TokenBuffer& out, const std::array<std::uint8_t, 5>& collation);
void writeLoginAck(TokenBuffer& out, std::u16string_view programName);

// INFO for severity 0..10, ERROR above.
void writeMessage(TokenBuffer& out, const Message& msg, std::u16string_view serverName,
                  Layout layout = Layout::Tds71);
void writeDone(TokenBuffer& out, DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount,
               Layout layout = Layout::Tds71);
// The end of a procedure call: its return status and an int output parameter.
void writeReturnStatus(TokenBuffer& out, std::int32_t status);
void writeReturnValue(TokenBuffer& out, std::uint16_t ordinal, std::u16string_view name, std::optional<std::int32_t> value);
void writeColMetadata(TokenBuffer& out, const std::vector<Column>& cols, Layout layout = Layout::Tds71);
// Values are encoded for `cols` (the last COLMETADATA); NChar is blank-padded
// to its length, over-long text is cut to the declared length.
void writeRow(TokenBuffer& out, const std::vector<Column>& cols, const Row& values);

} // namespace sandbox::tds
