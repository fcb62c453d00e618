#include "WindowLook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QScreen>
#include <QStringList>
#include <QStyleFactory>

#include <algorithm>

// Resources of a static library must be registered by name, from the global
// namespace, or the linker drops them.
static void registerLookResources()
{
    Q_INIT_RESOURCE(look);
}

namespace ui {

namespace {

// The families the form asks for; none of them exists on Linux.
const QString WindowFamily = QStringLiteral("MS Sans Serif");
const QString HeaderFamily = QStringLiteral("黑体");
const QString HeaderFamilyLatin = QStringLiteral("SimHei");

// The form's sizes are what it was drawn at: points on a 96 dpi screen.
constexpr double FormPixelsPerPoint = 96.0 / 72.0;

bool hasChinese(const QString& family)
{
    return QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

void addSubstitute(const QString& family, const QString& substitute)
{
    if (!QFont::substitutes(family).contains(substitute, Qt::CaseInsensitive))
        QFont::insertSubstitution(family, substitute);
}

// Designer stores point sizes, which Qt would scale by the screen's logical
// dpi as well as by its device pixel ratio: the form's sizes are pixels.
void sizeInPixels(QWidget& widget)
{
    QFont font = widget.font();
    if (font.pointSizeF() <= 0)
        return;  // no size of its own: the parent's pixels
    font.setPixelSize(qRound(font.pointSizeF() * FormPixelsPerPoint));
    widget.setFont(font);
}

// The system's button face, as the window and the read-only fields show it.
void paintRoleAsButtonFace(QWidget& widget, QPalette::ColorRole role)
{
    QPalette palette = widget.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, role, palette.color(group, QPalette::Button));
    widget.setPalette(palette);
}

// The application's style with the two behaviours of the form's controls
// that styles differ on: a password shows "*" per character, and a
// drop-down list opens as a list of at most maxVisibleItems rows rather than
// as a menu covering the screen (as Fusion shows it).
class FormControlStyle : public QProxyStyle {
public:
    FormControlStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        switch (hint) {
        case SH_LineEdit_PasswordCharacter:
            return '*';
        case SH_ComboBox_Popup:
            return 0;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
        }
    }
};

// A bold header in a fallback family can come out a few pixels wider than
// the label the form gives it; rather than clip the last character, draw
// the letters that much closer together. A label that fits stays as it is.
void fitTextToWidth(QLabel& label)
{
    const qsizetype letters = label.text().size();
    const int excess = label.fontMetrics().horizontalAdvance(label.text()) - label.width();
    if (excess <= 0 || letters < 2)
        return;
    QFont font = label.font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, -double(excess) / double(letters - 1));
    label.setFont(font);
}

// Centres the window once, when it is first shown, then goes away.
class FirstShowCentring : public QObject {
public:
    explicit FirstShowCentring(QWidget& window) : QObject(&window), window_(window)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::Show) {
            window_.removeEventFilter(this);
            // The screen the window opens on; its work area leaves out task bars.
            if (const QScreen* screen = window_.screen())
                window_.move(centredOnScreen(screen->availableGeometry(), window_.frameGeometry().size()));
            deleteLater();
        }
        return false;
    }

private:
    QWidget& window_;
};

// Qt gives every "&X" caption its Alt+X shortcut. A focused button or check
// box also answers to the plain letter, as dialog controls do on Windows:
// the key presses whichever button of the window has that mnemonic.
class PlainLetterMnemonics : public QObject {
public:
    explicit PlainLetterMnemonics(QWidget& window) : QObject(&window), window_(window)
    {
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>())
            button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::ShiftModifier) != Qt::NoModifier)
            return false;  // Alt+letter is Qt's own shortcut
        if (key->key() < Qt::Key_A || key->key() > Qt::Key_Z)
            return false;
        for (QAbstractButton* button : window_.findChildren<QAbstractButton*>()) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
            if (mnemonic.isEmpty() || mnemonic[0].key() != key->key())
                continue;
            if (!button->isEnabled() || !button->isVisible())
                continue;
            button->animateClick();  // the same press that Alt+letter gives
            return true;
        }
        return false;
    }

private:
    QWidget& window_;
};

} // namespace

QString chineseSansFamily()
{
    static const QStringList preferred{
        QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("Noto Sans CJK SC"),  QStringLiteral("Source Han Sans SC"),
        QStringLiteral("Microsoft YaHei"),   QStringLiteral("SimHei"),
        QStringLiteral("Droid Sans Fallback"),
    };
    for (const QString& family : preferred)
        if (QFontDatabase::hasFamily(family) && hasChinese(family))
            return family;
    // Any family that writes Chinese beats boxes.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.first();
}

void setUpApplicationLook()
{
    registerLookResources();

    const QString chinese = chineseSansFamily();
    if (!chinese.isEmpty()) {
        // Used only where the asked-for family is missing, so a Windows
        // machine keeps its own MS Sans Serif and SimHei.
        addSubstitute(WindowFamily, chinese);
        addSubstitute(HeaderFamily, HeaderFamilyLatin);
        addSubstitute(HeaderFamily, chinese);
        addSubstitute(HeaderFamilyLatin, chinese);
    }

    if (QGuiApplication::windowIcon().isNull())
        QGuiApplication::setWindowIcon(QIcon(QString::fromLatin1(IconResource)));
}

QPoint centredOnScreen(const QRect& screenArea, const QSize& frameSize)
{
    return {screenArea.left() + std::max(0, (screenArea.width() - frameSize.width()) / 2),
            screenArea.top() + std::max(0, (screenArea.height() - frameSize.height()) / 2)};
}

void applyLook(QWidget& window)
{
    setUpApplicationLook();

    // A fixed single frame: the system menu and the close box, nothing to
    // minimise, maximise or resize (the form fixes the size).
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setWindowIcon(QIcon(QString::fromLatin1(IconResource)));

    // The window first: the controls without a font of their own take its pixels.
    sizeInPixels(window);
    for (QWidget* control : window.findChildren<QWidget*>())
        if (control->testAttribute(Qt::WA_SetFont))
            sizeInPixels(*control);
    for (QLabel* label : window.findChildren<QLabel*>())
        fitTextToWidth(*label);

    paintRoleAsButtonFace(window, QPalette::Window);
    auto* style = new FormControlStyle;
    style->setParent(&window);
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        if (edit->isReadOnly())
            paintRoleAsButtonFace(*edit, QPalette::Base);
        if (edit->echoMode() == QLineEdit::Password)
            edit->setStyle(style);
    }
    for (QComboBox* list : window.findChildren<QComboBox*>())
        if (!list->isEditable())
            list->setStyle(style);

    new FirstShowCentring(window);
    new PlainLetterMnemonics(window);
}

} // namespace ui
