#include "db/texts/Report.h"

#include "db/ConnectFailure.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/LogJob.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/texts/Texts.h"

#include <utility>

namespace db::texts {

namespace {

std::u16string paragraphs(std::initializer_list<std::u16string_view> parts)
{
    std::u16string out;
    for (std::u16string_view p : parts) {
        if (p.empty())
            continue;
        if (!out.empty())
            out += u"\n\n";
        out += p;
    }
    return out;
}

std::u16string sentence(std::u16string text)
{
    if (!text.empty() && !text.ends_with(FullStop))
        text += FullStop;
    return text;
}

std::u16string number(std::int64_t n) { return asciiToUtf16(std::to_string(n)); }

// The size of the (one or two) VLFs a log keeps: each the same, as the
// first VLFs of a log are, or one by one.
std::u16string vlfSizes(const std::vector<std::int64_t>& pages)
{
    if (pages.size() == 2 && pages[0] != pages[1])
        return fill(VlfSizes, {megabytes(pages[0]), megabytes(pages[1])});
    return fill(VlfEach, {megabytes(pages.front())});
}

// The file's size and, when it stayed above the target, why.
std::u16string sizeReport(const LogJobOutcome& o)
{
    if (!o.sizePages)
        return {};
    const std::u16string size = fill(o.isLog ? LogNowIs : FileNowIs, {megabytes(*o.sizePages)});
    const std::u16string target = number(sql::ShrinkTargetMb);
    if (!o.aboveTarget())
        return sentence(size);
    if (o.shortfall == Shortfall::VlfBoundary)
        return sentence(size + std::u16string(Because) + fill(BecauseVlfBoundary, {target}));
    std::u16string stayed = size + fill(NotDownTo, {target});
    if (o.shortfall != Shortfall::None)
        stayed += std::u16string(Because) +
                  shortfallReason(o.shortfall, o.shortfall == Shortfall::Held ? o.holdReason : o.shrinkMessage,
                                  o.vlfPages);
    return sentence(std::move(stayed));
}

std::u16string modelReport(const LogJobOutcome& o, std::u16string_view database)
{
    if (!o.modelNotRestored || !o.wanted)
        return {};
    const std::u16string_view wanted = recoveryModelName(*o.wanted);
    if (!o.modelNow)
        return fill(ModelUnknown, {database, wanted, o.putBack});
    return fill(ModelNotRestored, {database, recoveryModelName(*o.modelNow), wanted, o.putBack});
}

std::u16string_view chainReport(const LogJobOutcome& o) { return o.chainBroken ? ChainBroken : std::u16string_view(); }

} // namespace

std::u16string_view connectHint(ConnectFailure kind)
{
    switch (kind) {
    case ConnectFailure::LoginRefused: return LoginRefused;
    case ConnectFailure::Unreachable: return ServerUnreachable;
    case ConnectFailure::Encryption: return EncryptionRefused;
    case ConnectFailure::MissingDriver:
    case ConnectFailure::Other: break;
    }
    return {};
}

std::u16string shortfallReason(Shortfall why, std::u16string_view detail, const std::vector<std::int64_t>& vlfPages)
{
    switch (why) {
    case Shortfall::VlfBoundary: return fill(BecauseVlfBoundary, {number(sql::ShrinkTargetMb)});
    case Shortfall::DataFile: return std::u16string(BecauseDataFile);
    case Shortfall::Held: return reuseWaitText(detail);
    case Shortfall::ActiveAtEnd: return std::u16string(BecauseActiveAtEnd);
    case Shortfall::TwoVlfFloor: return vlfPages.empty() ? std::u16string() : fill(BecauseTwoVlfFloor, {vlfSizes(vlfPages)});
    case Shortfall::ShrinkMessage: return std::u16string(detail);
    case Shortfall::None: break;
    }
    return {};
}

std::u16string fill(std::u16string_view pattern, std::initializer_list<std::u16string_view> values)
{
    std::u16string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
        const auto n = static_cast<std::size_t>(next - u'1');
        if (pattern[i] == u'%' && next >= u'1' && n < values.size()) {
            out += values.begin()[n];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// Tenths rounded half away from zero, as the window always showed them.
std::u16string megabytes(std::int64_t pages)
{
    if (pages % fixed::PagesPerMb == 0)
        return number(pages / fixed::PagesPerMb);
    const std::int64_t magnitude = pages < 0 ? -pages : pages;
    const std::int64_t tenths = (magnitude * 10 + fixed::PagesPerMb / 2) / fixed::PagesPerMb;
    std::u16string mb(pages < 0 ? u"-" : u"");
    mb += number(tenths / 10);
    if (tenths % 10 != 0) {
        mb += u'.';
        mb += number(tenths % 10);
    }
    return mb;
}

std::u16string reuseWaitText(std::u16string_view reuseWait)
{
    for (const auto& [wait, text] : ReuseWaits)
        if (reuseWait == wait)
            return std::u16string(text);
    return std::u16string(reuseWait);
}

std::u16string jobSucceeded(const LogJobOutcome& outcome)
{
    return paragraphs({JobSucceeded, sizeReport(outcome), chainReport(outcome)});
}

std::u16string jobFailed(const EDatabaseError& error, const LogJobOutcome& outcome, std::u16string_view database)
{
    const std::u16string_view reason = error.SqlState() == CancelledState ? Cancelled : error.Message();
    return paragraphs({JobFailed, reason, modelReport(outcome, database), chainReport(outcome)});
}

std::u16string jobProgress(const TLogJob& job)
{
    const std::u16string statement = job.PuttingBack();
    return statement.empty() ? std::u16string() : fill(PuttingBack, {statement});
}

std::u16string connectFailed(const std::vector<ServerMessage>& errors)
{
    const ConnectFailureReason why = connectFailureOf(errors);
    return paragraphs({ConnectFailed, why.text, connectHint(why.kind)});
}

} // namespace db::texts
