#include "JobReport.h"

namespace ui {

namespace {

QString paragraphs(QString text, const QString& more)
{
    if (!more.isEmpty())
        text += QStringLiteral("\n\n") + more;
    return text;
}

} // namespace

QString reuseWaitText(const QString& reuseWait)
{
    static const struct {
        const char16_t* wait;
        const char16_t* text;
    } Known[] = {
        {u"LOG_BACKUP", u"需要先备份日志"},
        {u"ACTIVE_TRANSACTION", u"有未结束的事务"},
        {u"REPLICATION", u"复制尚未读取日志"},
        {u"AVAILABILITY_REPLICA", u"可用性组的辅助副本尚未应用日志"},
        {u"DATABASE_MIRRORING", u"数据库镜像尚未同步"},
        {u"ACTIVE_BACKUP_OR_RESTORE", u"正在备份或还原"},
        {u"CHECKPOINT", u"需要检查点"},
    };
    for (const auto& k : Known)
        if (reuseWait == QString::fromUtf16(k.wait))
            return QString::fromUtf16(k.text);
    return reuseWait;
}

QString jobSucceeded(const db::LogJobOutcome& outcome)
{
    QString text = QStringLiteral("数据库清理成功!");
    if (outcome.sizeAboveTargetMb) {
        const QString reason = !outcome.reuseWait.empty()
                                   ? reuseWaitText(QString::fromStdU16String(outcome.reuseWait))
                                   : QString::fromStdU16String(outcome.shrinkMessage);
        QString stayed = QStringLiteral("日志文件未能缩小到 %1 MB（现为 %2 MB）")
                             .arg(db::sql::ShrinkTargetMb)
                             .arg(*outcome.sizeAboveTargetMb);
        stayed += reason.isEmpty() ? QStringLiteral("。") : QStringLiteral("：") + reason;
        text = paragraphs(text, stayed);
    }
    if (outcome.model == db::RecoveryModel::Full || outcome.model == db::RecoveryModel::BulkLogged)
        text = paragraphs(text, QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。"));
    return text;
}

QString jobFailed(const QString& serverMessage)
{
    return paragraphs(QStringLiteral("数据库清理失败!"), serverMessage);
}

} // namespace ui
