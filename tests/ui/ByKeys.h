// Choosing as a user does with the keyboard alone: the database list opened
// with F4, the name typed into the open list's own search and Enter; a file
// found by typing its name into the closed file list.
#pragma once

#include "GuiSupport.h"

#include <QAbstractItemView>
#include <QTest>

namespace guitest {

[[nodiscard]] inline bool chooseDatabaseByKeys(TFrmMain& w, const QString& name)
{
    w.CmbDb->setFocus();
    QTest::keyClick(w.CmbDb, Qt::Key_F4);
    GUITEST_CHECK(listIsOpen(w.CmbDb), "the database list did not open");
    QTest::keyClicks(w.CmbDb->view(), name);
    QTest::keyClick(w.CmbDb->view(), Qt::Key_Return);
    GUITEST_CHECK(w.CmbDb->currentText() == name, qPrintable(w.CmbDb->currentText()));
    return true;
}

// 2000 pads file names to nchar(128): the name is found without its blanks.
[[nodiscard]] inline bool chooseFileByKeys(TFrmMain& w, const QString& name)
{
    w.CmbLog->setFocus();
    QTest::keyClicks(w.CmbLog, name);
    GUITEST_CHECK(w.CmbLog->currentText().trimmed() == name, qPrintable(w.CmbLog->currentText()));
    return true;
}

} // namespace guitest
