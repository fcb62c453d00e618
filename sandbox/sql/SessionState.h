// What the engine keeps of one connection between its batches.
#pragma once

#include "sandbox/sql/Language.h"

#include <cstdint>
#include <string>

namespace sandbox {

// Per-connection state the engine reads and changes.
struct SessionState {
    std::uint16_t spid = 51;
    std::u16string database = u"master";
    int tranCount = 0;
    Language language = Language::English;  // settled at login
    bool implicitTransactions = false;
    bool noCount = false;  // SET NOCOUNT ON: DONE tokens carry no row count
};

} // namespace sandbox
