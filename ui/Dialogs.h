// Every message box the window shows goes through one seam: the program is
// given the real boxes, a test something that records what was shown.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace ui {

// One box: a caption, a text, an icon and one OK button.
struct Box {
    enum class Icon { Information, Critical };
    QString caption;
    QString text;
    Icon icon = Icon::Information;
    // Modal for this window, which owns it; none: modal for the whole application.
    QWidget* owner = nullptr;
};

class Dialogs : public QObject {
    Q_OBJECT
public:
    // The handlers' box: caption "提示", the information icon, owned by the window.
    void information(QWidget& owner, const QString& text);
    // The default error report: captioned with the application title, the
    // error icon, modal for the application.
    void errorReport(const QString& text);

signals:
    // A box is about to take the keyboard focus, and with it the user's attention.
    void showing();

protected:
    // Shows the box and returns once the user has closed it.
    virtual void show(const Box& box) = 0;
};

// The real boxes.
class MessageBoxes final : public Dialogs {
    Q_OBJECT
protected:
    void show(const Box& box) override;
};

} // namespace ui
