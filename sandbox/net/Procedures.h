// What a procedure call (RPC) stands for. ODBC drivers send prepared
// statements as calls of sp_prepare, sp_execute, ... by id or by name; any
// other procedure runs as the EXEC statement it stands for.
#pragma once

#include "sandbox/sql/Result.h"
#include "sandbox/tds/Rpc.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sandbox {

struct ProcedurePlan {
    std::optional<Message> refusal;           // answer with this error and run nothing
    std::optional<std::u16string> handleName; // return the new handle in this output parameter...
    std::int32_t handle = 0;                  // ...with this value
    std::optional<std::u16string> sql;        // then run this text
};

// One session's prepared statements, by handle. Bounded, so that a client
// that never unprepares cannot grow it without end.
class Procedures {
public:
    static constexpr std::size_t MaxPrepared = 4096;

    ProcedurePlan plan(const tds::RpcRequest& call);
    std::size_t prepared() const { return prepared_.size(); }

private:
    ProcedurePlan prepare(const tds::RpcRequest& call, bool execute);
    ProcedurePlan execute(const tds::RpcRequest& call) const;

    std::map<std::int32_t, std::u16string> prepared_;
    std::int32_t nextHandle_ = 1;
};

} // namespace sandbox
