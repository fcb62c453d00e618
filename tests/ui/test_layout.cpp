// The window's look: geometry, captions, fonts, colours, control properties,
// focus order, mnemonics, the fixed frame and the icon (where it opens:
// test_placement.cpp).
#include "GuiSupport.h"
#include "ui/WindowLook.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

using guitest::Window;

namespace {

struct Placed {
    const char* name;
    const char* parent;
    QRect rect;
};

// Every control where the form puts it, inside its parent's client area.
const Placed Layout[] = {
    {"Panel1", "TFrmMain", {0, 0, 377, 53}},
    {"GroupBox1", "TFrmMain", {0, 53, 377, 213}},
    {"Panel2", "TFrmMain", {0, 266, 377, 58}},
    {"Label2", "Panel1", {8, 3, 301, 24}},
    {"Label13", "Panel1", {5, 32, 72, 12}},
    {"Label1", "Panel1", {90, 32, 102, 12}},
    {"Label3", "GroupBox1", {16, 19, 54, 12}},
    {"Label4", "GroupBox1", {16, 43, 42, 12}},
    {"Label5", "GroupBox1", {16, 67, 30, 12}},
    {"Label6", "GroupBox1", {16, 91, 54, 12}},
    {"Label7", "GroupBox1", {16, 115, 66, 12}},
    {"Label8", "GroupBox1", {16, 139, 54, 12}},
    {"Label9", "GroupBox1", {16, 163, 54, 12}},
    {"CmbServer", "GroupBox1", {96, 15, 264, 20}},
    {"EdtUid", "GroupBox1", {96, 40, 264, 20}},
    {"EdtPwd", "GroupBox1", {96, 64, 264, 20}},
    {"CmbDb", "GroupBox1", {96, 87, 264, 20}},
    {"CmbLog", "GroupBox1", {96, 111, 264, 20}},
    {"EdtLogPath", "GroupBox1", {96, 136, 264, 20}},
    {"EdtLogSize", "GroupBox1", {96, 160, 264, 20}},
    {"Chk", "GroupBox1", {16, 185, 273, 17}},
    {"BtnOk", "Panel2", {42, 14, 83, 25}},
    {"BtnExit", "Panel2", {210, 14, 83, 25}},
};

bool writesChinese(const QString& family)
{
    return QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

// The colours a picture of the widget actually uses.
QSet<QRgb> coloursIn(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours;
}

QImage picture(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:

    void everyControlStandsAtItsPlaceInItsArea()
    {
        Window w;
        QCOMPARE(w->size(), QSize(377, 324));
        for (const Placed& placed : Layout) {
            const auto* widget = w->findChild<QWidget*>(placed.name);
            QVERIFY2(widget, placed.name);
            QCOMPARE(widget->parentWidget()->objectName(), QString(placed.parent));
            QVERIFY2(widget->geometry() == placed.rect,
                     qPrintable(QStringLiteral("%1 at %2,%3 %4x%5").arg(placed.name)
                                    .arg(widget->x()).arg(widget->y())
                                    .arg(widget->width()).arg(widget->height())));
        }
    }

    void captionsAreTheFormsAndFitTheirControls()
    {
        Window w;
        QCOMPARE(w->windowTitle(), QString("Quellmar数据库日志清理工具"));
        QCOMPARE(w->Label2->text(), QString("Quellmar数据库日志清理工具"));
        QCOMPARE(w->GroupBox1->title(), QString("数据库连接设置"));
        QCOMPARE(w->Label3->text(), QString("服务器名:"));
        QCOMPARE(w->Label4->text(), QString("用户名:"));
        QCOMPARE(w->Label5->text(), QString("密码:"));
        QCOMPARE(w->Label6->text(), QString("数据库名:"));
        QCOMPARE(w->Label7->text(), QString("日志文件名:"));
        QCOMPARE(w->Label8->text(), QString("文件路径:"));
        QCOMPARE(w->Label9->text(), QString("文件大小:"));
        QCOMPARE(w->Chk->text(), QString("日志文件以后不再增大"));
        QCOMPARE(w->BtnOk->text(), QString("压缩(&O)"));
        QCOMPARE(w->BtnExit->text(), QString("退出(&E)"));
        // The contact line tells about this project, nothing made up.
        QVERIFY(w->Label13->text().contains("sqllogclean"));
        QVERIFY(!w->Label1->text().isEmpty());
        QVERIFY(w->Panel1->findChildren<QLabel*>().size() == 3);

        // Fixed geometry clips whatever does not fit, so every text must.
        for (QLabel* label : w->findChildren<QLabel*>()) {
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(needed <= label->width(),
                     qPrintable(QStringLiteral("%1 needs %2 of %3 pixels")
                                    .arg(label->objectName()).arg(needed).arg(label->width())));
        }
        QVERIFY(w->Chk->sizeHint().width() <= w->Chk->width());
        for (QPushButton* button : {w->BtnOk, w->BtnExit})
            QVERIFY(button->fontMetrics().horizontalAdvance(button->text().remove('&')) < button->width() - 8);
    }

    void fontsResolveToChineseFamiliesOfTheFormsPixelSizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::newRow("window") << "TFrmMain" << "MS Sans Serif" << 12 << false;
        QTest::newRow("header title") << "Label2" << "黑体" << 24 << true;
        QTest::newRow("contact") << "Label13" << "MS Sans Serif" << 12 << false;
        QTest::newRow("documentation") << "Label1" << "MS Sans Serif" << 12 << false;
        QTest::newRow("group box") << "GroupBox1" << "MS Sans Serif" << 12 << false;
        QTest::newRow("row label") << "Label7" << "MS Sans Serif" << 12 << false;
        QTest::newRow("server box") << "CmbServer" << "MS Sans Serif" << 12 << false;
        QTest::newRow("file list") << "CmbLog" << "MS Sans Serif" << 12 << false;
        QTest::newRow("password") << "EdtPwd" << "MS Sans Serif" << 12 << false;
        QTest::newRow("check box") << "Chk" << "MS Sans Serif" << 12 << false;
        QTest::newRow("button") << "BtnOk" << "MS Sans Serif" << 12 << false;
    }

    void fontsResolveToChineseFamiliesOfTheFormsPixelSizes()
    {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        Window w;
        QWidget* widget = name == "TFrmMain" ? w.form.get() : w->findChild<QWidget*>(name);
        QVERIFY(widget);
        const QFont font = widget->font();
        QCOMPARE(font.family(), family);
        QCOMPARE(font.pixelSize(), pixels);
        QCOMPARE(font.bold(), bold);
        // What is drawn: where the family is missing, a substitute that has
        // Chinese glyphs, at the same size.
        const QFontInfo drawn(font);
        QVERIFY2(drawn.family() == family || writesChinese(drawn.family()), qPrintable(drawn.family()));
        QCOMPARE(drawn.pixelSize(), pixels);
    }

    void substitutesAreSetUpOnceHoweverOftenAsked()
    {
        ui::setUpApplicationLook();
        const QStringList once = QFont::substitutes("MS Sans Serif");
        ui::setUpApplicationLook();
        Window w;
        QCOMPARE(QFont::substitutes("MS Sans Serif"), once);
        QVERIFY(!ui::chineseSansFamily().isEmpty());
        QVERIFY(writesChinese(ui::chineseSansFamily()));
        QVERIFY(QFont::substitutes("黑体").contains(ui::chineseSansFamily(), Qt::CaseInsensitive));
    }

    void headerIsWhiteWithGreenTextOnAButtonFaceWindow()
    {
        Window w;
        const QColor green(0, 77, 0);
        for (QLabel* label : {w->Label2, w->Label13, w->Label1})
            for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
                QCOMPARE(label->palette().color(group, QPalette::WindowText), green);
        QVERIFY(w->Panel1->autoFillBackground());
        QCOMPARE(w->Panel1->palette().color(QPalette::Window), QColor(Qt::white));

        const QColor face = w->palette().color(QPalette::Button);
        QCOMPARE(w->palette().color(QPalette::Window), face);
        QCOMPARE(w->Panel2->palette().color(QPalette::Window), face);
        QCOMPARE(w->EdtLogPath->palette().color(QPalette::Base), face);
        QCOMPARE(w->EdtLogSize->palette().color(QPalette::Base), face);
        QVERIFY(w->EdtPwd->palette().color(QPalette::Base) != face);  // only the read-only ones

        // As drawn: the header's inside white, its title in the green, the
        // button area in the button face.
        const QImage whole = picture(w.form.get());
        QCOMPARE(QColor(whole.pixel(360, 45)), QColor(Qt::white));
        QCOMPARE(QColor(whole.pixel(4, 320)), face);
        QVERIFY(coloursIn(picture(w->Label2)).contains(green.rgb()));
        QCOMPARE(QColor(picture(w->EdtLogSize).pixel(130, 10)), face);
    }

    void panelsHaveTheirBevels()
    {
        Window w;
        QCOMPARE(w->Panel1->frameShape(), QFrame::Panel);
        QCOMPARE(w->Panel1->frameShadow(), QFrame::Raised);
        QCOMPARE(w->Panel1->frameWidth(), 1);
        QCOMPARE(w->Panel2->frameShape(), QFrame::NoFrame);
        QCOMPARE(w->Panel2->frameWidth(), 0);
        // Raised: lit along the top, shaded along the bottom.
        const QImage header = picture(w->Panel1);
        QVERIFY(QColor(header.pixel(200, 52)).lightness() < QColor(header.pixel(200, 0)).lightness());
    }

    void inputsHaveTheirKindsAndProperties()
    {
        Window w;
        QVERIFY(w->CmbServer->isEditable());
        for (QComboBox* list : {static_cast<QComboBox*>(w->CmbDb), static_cast<QComboBox*>(w->CmbLog)}) {
            QVERIFY(!list->isEditable());
            QCOMPARE(list->maxVisibleItems(), 8);
        }
        QVERIFY(!w->EdtUid->isEnabled());
        QCOMPARE(w->EdtUid->text(), QString("sa"));
        QVERIFY(w->EdtLogPath->isReadOnly());
        QVERIFY(w->EdtLogSize->isReadOnly());
        QVERIFY(!w->Chk->isChecked());

        // Every typed character shows as "*" whatever the style's own mask.
        QCOMPARE(w->EdtPwd->echoMode(), QLineEdit::Password);
        QCOMPARE(w->EdtPwd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w->EdtPwd),
                 int('*'));
        QTest::keyClicks(w->EdtPwd, "s3cr");
        QCOMPARE(w->EdtPwd->displayText(), QString("****"));
        QCOMPARE(w->EdtPwd->text(), QString("s3cr"));
    }

    void anOpenFileListShowsAtMostEightRows()
    {
        Window w;
        for (int i = 0; i < 20; ++i)
            w->CmbLog->addItem(QStringLiteral("file_%1").arg(i));
        w->CmbLog->showPopup();
        QVERIFY(guitest::listIsOpen(w->CmbLog));
        QAbstractItemView* view = w->CmbLog->view();
        const int row = view->sizeHintForRow(0);
        QVERIFY(row > 0);
        const int rowsShown = view->viewport()->height() / row;
        QVERIFY2(rowsShown <= 8, qPrintable(QString::number(rowsShown)));
        QVERIFY2(rowsShown >= 7, qPrintable(QString::number(rowsShown)));
        w->CmbLog->hidePopup();
    }

    void tabCyclesThroughTheInputsInTheFormsOrder()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        const QList<QWidget*> cycle{w->CmbServer, w->EdtPwd, w->CmbDb, w->CmbLog, w->EdtLogPath,
                                    w->EdtLogSize, w->Chk, w->BtnOk, w->BtnExit};
        QCOMPARE(QApplication::focusWidget(), w->CmbServer);
        for (qsizetype step = 1; step <= cycle.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), cycle.at(step % cycle.size()));
        }
        for (qsizetype step = cycle.size() - 1; step >= 0; --step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), cycle.at(step));
        }
    }

    void altLettersPressTheButtonsFromAnywhere()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QSignalSpy okClicks(w->BtnOk, &QPushButton::clicked);
        w->EdtPwd->setFocus();
        QTest::keyClick(w->EdtPwd, Qt::Key_O, Qt::AltModifier);
        QTRY_COMPARE(okClicks.size(), 1);
        // Pressing it did what the button does, without a connection.
        QCOMPARE(w.boxes.texts(), QStringList{"数据库连接失败!"});
        QVERIFY(w->EdtPwd->text().isEmpty());  // the letter was not typed

        w->CmbServer->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY(!w->isVisible());
    }

    void plainLettersPressTheButtonsOnlyFromButtonsAndTheCheckBox_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("pressed");
        const Qt::KeyboardModifiers none = Qt::NoModifier;
        QTest::newRow("o on exit") << "BtnExit" << int(Qt::Key_O) << none << "BtnOk";
        QTest::newRow("O on check box") << "Chk" << int(Qt::Key_O) << Qt::KeyboardModifiers(Qt::ShiftModifier) << "BtnOk";
        QTest::newRow("e on ok") << "BtnOk" << int(Qt::Key_E) << none << "BtnExit";
        QTest::newRow("e on check box") << "Chk" << int(Qt::Key_E) << none << "BtnExit";
        QTest::newRow("x on ok") << "BtnOk" << int(Qt::Key_X) << none << "";
        QTest::newRow("o in password") << "EdtPwd" << int(Qt::Key_O) << none << "";
        QTest::newRow("e in path") << "EdtLogPath" << int(Qt::Key_E) << none << "";
        QTest::newRow("e in server") << "CmbServer" << int(Qt::Key_E) << none << "";
    }

    void plainLettersPressTheButtonsOnlyFromButtonsAndTheCheckBox()
    {
        QFETCH(QString, from);
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, pressed);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        auto* focus = w->findChild<QWidget*>(from);
        focus->setFocus();
        const bool checked = w->Chk->isChecked();
        QTest::keyClick(focus, Qt::Key(key), modifiers);

        if (pressed.isEmpty()) {
            QVERIFY(!w->BtnOk->isDown());
            QVERIFY(!w->BtnExit->isDown());
            QVERIFY(w->isVisible());
            QCOMPARE(w->Chk->isChecked(), checked);
            return;
        }
        auto* button = w->findChild<QPushButton*>(pressed);
        QVERIFY(button->isDown());  // pressed now, released (and clicked) shortly after
        QSignalSpy clicks(button, &QPushButton::clicked);
        QTRY_COMPARE(clicks.size(), 1);
        if (button == w->BtnExit)
            QVERIFY(!w->isVisible());
        else
            QCOMPARE(w.boxes.texts(), QStringList{"数据库连接失败!"});
        QCOMPARE(w->Chk->isChecked(), checked);  // the check box itself was not toggled
    }

    void enterPressesTheFocusedButtonOnly()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w->EdtPwd->setFocus();
        QTest::keyClick(w->EdtPwd, Qt::Key_Return);
        QVERIFY(w.boxes.texts().isEmpty());

        w->BtnOk->setFocus();
        QTest::keyClick(w->BtnOk, Qt::Key_Return);
        QCOMPARE(w.boxes.texts(), QStringList{"数据库连接失败!"});

        w->BtnExit->setFocus();
        QTest::keyClick(w->BtnExit, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!w->isVisible());
    }

    void frameIsFixedWithOnlyTheSystemMenuAndCloseBox()
    {
        Window w;
        const Qt::WindowFlags flags = w->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->minimumSize(), QSize(377, 324));
        QCOMPARE(w->maximumSize(), QSize(377, 324));
        w->resize(500, 400);
        QCOMPARE(w->size(), QSize(377, 324));
        w->showMaximized();
        QCOMPARE(w->size(), QSize(377, 324));
    }

    void iconIsOurOwn32PixelSixteenColourPicture()
    {
        Window w;
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(!QApplication::windowIcon().isNull());
        const QImage icon(ui::IconResource);
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(icon.colorCount() <= 16);
        QVERIFY(coloursIn(icon).size() <= 16);
        QVERIFY(coloursIn(icon).size() >= 4);  // a picture, not a blot
        QCOMPARE(w->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    }
};

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
