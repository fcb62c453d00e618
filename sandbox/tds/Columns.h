// Result sets on the wire: COLMETADATA describing the columns, and ROW
// tokens with values encoded for them.
#pragma once

#include "sandbox/sql/Result.h"
#include "sandbox/tds/Buffer.h"
#include "sandbox/tds/Version.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sandbox::tds {

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
constexpr std::uint8_t Variant = 0x62;
constexpr std::uint8_t NVarChar = 0xE7;
constexpr std::uint8_t NChar = 0xEF;
constexpr std::uint8_t BigChar = 0xAF;
constexpr std::uint8_t Bit = 0x32;
constexpr std::uint8_t BitN = 0x68;
constexpr std::uint8_t Float4 = 0x3B;
constexpr std::uint8_t Float8 = 0x3E;
constexpr std::uint8_t FloatN = 0x6D;
constexpr std::uint8_t NumericN = 0x6C;
} // namespace wiretype

// SQL_Latin1_General_CP1_CI_AS: LCID 0x0409 with its flags, sort id 52.
constexpr std::array<std::uint8_t, 5> DefaultCollation = {0x09, 0x04, 0xD0, 0x00, 0x34};

// From 7.2 a column's user type takes 4 bytes, and an ntext column names
// its table in parts.
void writeColMetadata(TokenBuffer& out, const std::vector<Column>& cols, Layout layout = Layout::Tds71);
// Values are encoded for `cols` (the last COLMETADATA); NChar is blank-padded
// to its length, over-long text is cut to the declared length.
void writeRow(TokenBuffer& out, const std::vector<Column>& cols, const Row& values);

} // namespace sandbox::tds
