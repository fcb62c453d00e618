#include "JobReport.h"

#include "Messages.h"
#include "db/Errors.h"
#include "db/SqlText.h"

#include <QStringList>

namespace ui {

namespace {

QString qstr(const std::u16string& text) { return QString::fromStdU16String(text); }

QString paragraphs(const QStringList& parts)
{
    QStringList present;
    for (const QString& p : parts)
        if (!p.isEmpty())
            present << p;
    return present.join(QStringLiteral("\n\n"));
}

QString sentence(QString text)
{
    if (!text.isEmpty() && !text.endsWith(u'。'))
        text += u'。';
    return text;
}

// The size of the (one or two) VLFs a log keeps: each the same, as the
// first VLFs of a log are, or one by one.
QString vlfSizes(const std::vector<std::int64_t>& pages)
{
    if (pages.size() == 2 && pages[0] != pages[1])
        return text::VlfSizes.arg(megabytes(pages[0]), megabytes(pages[1]));
    return text::VlfEach.arg(megabytes(pages.front()));
}

// The file's size and, when it stayed above the target, why.
QString sizeReport(const db::LogJobOutcome& o)
{
    if (!o.sizePages)
        return {};
    const QString mb = megabytes(*o.sizePages);
    const int target = db::sql::ShrinkTargetMb;
    if (*o.sizePages <= target * 128)
        return (o.isLog ? text::LogNowIs : text::FileNowIs).arg(mb);
    const QString stayed = (o.isLog ? text::LogStayed : text::FileStayed).arg(mb).arg(target);
    const auto because = [&stayed](const QString& reason) { return sentence(stayed + u'：' + reason); };
    switch (o.shortfall) {
    case db::Shortfall::VlfBoundary: return text::LogAtVlfBoundary.arg(mb).arg(target);
    case db::Shortfall::DataFile: return because(text::BecauseDataFile);
    case db::Shortfall::Held: return because(reuseWaitText(qstr(o.holdReason)));
    case db::Shortfall::ActiveAtEnd: return because(text::BecauseActiveAtEnd);
    case db::Shortfall::TwoVlfFloor: return because(text::BecauseTwoVlfFloor.arg(vlfSizes(o.vlfPages)));
    case db::Shortfall::ShrinkMessage: return because(qstr(o.shrinkMessage));
    case db::Shortfall::None: break;
    }
    return sentence(stayed);
}

QString modelReport(const db::LogJobOutcome& o, const QString& database)
{
    if (!o.modelNotRestored)
        return {};
    const QString statement = qstr(o.putBack);
    const QString wanted = statement.section(u' ', -1);
    if (!o.modelNow)
        return text::ModelUnknown.arg(database, wanted, statement);
    return text::ModelNotRestored.arg(database, qstr(db::recoveryModelName(*o.modelNow)), wanted, statement);
}

QString chainReport(const db::LogJobOutcome& o) { return o.chainBroken ? text::ChainBroken : QString(); }

} // namespace

QString megabytes(std::int64_t pages)
{
    if (pages % 128 == 0)
        return QString::number(pages / 128);
    QString mb = QString::number(static_cast<double>(pages) / 128.0, 'f', 1);
    if (mb.endsWith(QStringLiteral(".0")))
        mb.chop(2);
    return mb;
}

QString reuseWaitText(const QString& reuseWait)
{
    // Every value log_reuse_wait_desc has had, 2005 to 2022, but those that
    // hold nothing (db/FixedValues.h).
    static const struct {
        const char16_t* wait;
        const char16_t* text;
    } Known[] = {
        {u"LOG_BACKUP", u"需要先备份日志"},
        {u"ACTIVE_BACKUP_OR_RESTORE", u"正在备份或还原数据"},
        {u"ACTIVE_TRANSACTION", u"有未结束的事务"},
        {u"DATABASE_MIRRORING", u"数据库镜像已暂停或尚未同步"},
        {u"REPLICATION", u"复制尚未读取日志"},
        {u"DATABASE_SNAPSHOT_CREATION", u"正在创建数据库快照"},
        {u"LOG_SCAN", u"正在扫描日志"},
        {u"AVAILABILITY_REPLICA", u"可用性组的辅助副本尚未应用日志"},
        {u"OLDEST_PAGE", u"间接检查点尚未写出最早的脏页"},
        {u"XTP_CHECKPOINT", u"内存优化表需要检查点"},
        {u"SLOG_SCAN", u"正在扫描辅助日志（加速数据库恢复）"},
    };
    for (const auto& k : Known)
        if (reuseWait == QString::fromUtf16(k.wait))
            return QString::fromUtf16(k.text);
    return reuseWait;
}

QString jobSucceeded(const db::LogJobOutcome& outcome)
{
    return paragraphs({text::JobSucceeded, sizeReport(outcome), chainReport(outcome)});
}

QString jobFailed(const db::EDatabaseError& error, const db::LogJobOutcome& outcome, const QString& database)
{
    const QString reason = error.SqlState() == "HY008" ? text::Cancelled : qstr(error.Message());
    return paragraphs({text::JobFailed, reason, modelReport(outcome, database), chainReport(outcome)});
}

QString jobProgress(const db::TLogJob& job)
{
    const std::u16string statement = job.PuttingBack();
    return statement.empty() ? QString() : text::PuttingBack.arg(qstr(statement));
}

QString connectFailed(const std::vector<db::ServerMessage>& errors)
{
    const db::ConnectFailureReason why = db::connectFailureOf(errors);
    QString hint;
    switch (why.kind) {
    case db::ConnectFailure::LoginRefused: hint = text::LoginRefused; break;
    case db::ConnectFailure::Unreachable: hint = text::ServerUnreachable; break;
    case db::ConnectFailure::Encryption: hint = text::EncryptionRefused; break;
    case db::ConnectFailure::MissingDriver:
    case db::ConnectFailure::Other: break;
    }
    return paragraphs({text::ConnectFailed, qstr(why.text), hint});
}

} // namespace ui
