// What the tool tells the user after the job and after a failed connection,
// composed from the sentences of Texts.h: the first line as it always was,
// then, one paragraph each, what happened and why.
#pragma once

#include "db/ConnectFailure.h"
#include "db/LogOutcome.h"
#include "db/ServerMessage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace db {
class EDatabaseError;
class TLogJob;
}

namespace db::texts {

// "数据库清理成功!", then the size the file reached and why not smaller,
// and whether the log backup chain is broken.
std::u16string jobSucceeded(const LogJobOutcome& outcome);

// "数据库清理失败!", then the reason ("已取消。" after a cancel), whether the
// recovery model could not be put back (and how to put it back), and
// whether the chain is broken.
std::u16string jobFailed(const EDatabaseError& error, const LogJobOutcome& outcome, std::u16string_view database);

// What the running job waits for: the statement that puts the recovery
// model back, while it runs; else nothing.
std::u16string jobProgress(const TLogJob& job);

// "数据库连接失败!", then why, with what the user can do about it.
std::u16string connectFailed(const std::vector<ServerMessage>& errors);

// Why a file stays above the target, as the window says it after "：" (none
// for None): `detail` is log_reuse_wait_desc for Held, the shrink's own
// message for ShrinkMessage; `vlfPages` the VLFs left, for TwoVlfFloor.
std::u16string shortfallReason(Shortfall why, std::u16string_view detail, const std::vector<std::int64_t>& vlfPages);

// What the user can do about a failed connection of this kind; none when
// nothing is known to help.
std::u16string_view connectHint(ConnectFailure kind);

// A reason the server gives for not reusing the log (log_reuse_wait_desc),
// in the user's words; one it does not know stays as the server says it.
std::u16string reuseWaitText(std::u16string_view reuseWait);

// Pages as megabytes: whole when exact, else to one decimal.
std::u16string megabytes(std::int64_t pages);

// The pattern with %1, %2... replaced by the texts given, in one pass.
std::u16string fill(std::u16string_view pattern, std::initializer_list<std::u16string_view> values);

} // namespace db::texts
