#include "platform/ui/window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include <qdrawutil.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyleOption>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

namespace {

QWidget* Widget(HWND window) { return static_cast<QWidget*>(window); }
HWND Handle(QWidget* widget) { return static_cast<HWND>(widget); }

// An edit's selection, low to high whichever way it was made, as the
// platform reports it; without one, both ends are the caret.
void SelectionOf(QLineEdit* edit, int* start, int* end) {
    if (edit->hasSelectedText()) {
        *start = edit->selectionStart();
        *end = *start + static_cast<int>(edit->selectedText().size());
    } else {
        *start = *end = edit->cursorPosition();
    }
}

// An auto check box whose text wraps within its rectangle, the box centred
// vertically beside it.
class WrappingCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
        indicator.moveTop((height() - indicator.height()) / 2);
        option.rect = indicator;
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, this);
        QRect textRect =
            rect().adjusted(indicator.right() + 1 + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing), 0, 0, 0);
        style()->drawItemText(&painter, textRect,
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                              isEnabled(), text(), QPalette::WindowText);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = textRect;
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    bool hitButton(const QPoint& point) const override { return rect().contains(point); }
    QSize sizeHint() const override { return size(); }
};

// A group box drawn as the platform draws one: the frame runs through the
// middle of the title's line, so the template's rectangle is its outer edge
// and a control placed one line below the top sits inside the frame, not on
// a frame line drawn below the title.
class TemplateGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QFontMetrics metrics(font());
        int middle = metrics.height() / 2;
        // An etched line (styles put their own frame below the title instead).
        qDrawShadeRect(&painter, rect().adjusted(0, middle, 0, 0), palette(), true, 1, 0);
        if (title().isEmpty()) return;
        // The title on the frame line, a little in from the left, on the dialog's face.
        int indent = metrics.averageCharWidth();
        QString shown = QString(title()).remove('&');
        QRect text(indent, 0, metrics.horizontalAdvance(shown) + metrics.averageCharWidth(), metrics.height());
        painter.fillRect(text, palette().color(QPalette::Window));
        style()->drawItemText(&painter, text, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(), title(),
                              QPalette::WindowText);
    }
};

// The up-down control: two arrow buttons bound to a buddy edit. Steps move the
// position within the range; with UDS_SETBUDDYINT the buddy's number is read
// before a step and the new position written into it.
class UpDownControl : public QWidget {
public:
    UpDownControl(QWidget* parent, std::uint32_t style) : QWidget(parent), style_(style) {
        up_ = new QToolButton(this);
        down_ = new QToolButton(this);
        up_->setArrowType(Qt::UpArrow);
        down_->setArrowType(Qt::DownArrow);
        for (QToolButton* button : {up_, down_}) {
            button->setAutoRepeat(true);
            button->setFocusPolicy(Qt::NoFocus);
            button->setIconSize(QSize(6, 6));
        }
        QObject::connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
        QObject::connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
        setFocusPolicy(Qt::NoFocus);
    }

    void Bind(QLineEdit* buddy) {
        buddy_ = buddy;
        if (buddy_ && (style_ & UDS_ARROWKEYS)) buddy_->installEventFilter(this);
    }
    QLineEdit* Buddy() const { return buddy_; }
    void SetRange(int low, int high) {
        low_ = low;
        high_ = high;
        position_ = Clamp(position_);
    }
    void Range(int* low, int* high) const {
        if (low) *low = low_;
        if (high) *high = high_;
    }
    // With UDS_SETBUDDYINT every change writes the buddy, the program's own
    // included, so the field never stays empty while its setting has a value.
    // The buddy shows the number asked for even where the range clamps the
    // position: a stored value the spin can't reach is kept as it is.
    void SetPosition(int position) {
        position_ = Clamp(position);
        if (style_ & UDS_SETBUDDYINT) WriteBuddy(position);
    }
    int Position() const { return position_; }

    std::function<void(int)> moved;

protected:
    void resizeEvent(QResizeEvent*) override {
        int half = height() / 2;
        up_->setGeometry(0, 0, width(), half);
        down_->setGeometry(0, half, width(), height() - half);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
            int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                Step(key == Qt::Key_Up ? 1 : -1);
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    int Clamp(int value) const {
        int low = std::min(low_, high_);
        int high = std::max(low_, high_);
        return std::clamp(value, low, high);
    }
    void Step(int direction) {
        if ((style_ & UDS_SETBUDDYINT) && buddy_) {
            bool ok = false;
            int typed = buddy_->text().remove(',').toInt(&ok);
            if (ok) position_ = Clamp(typed);
        }
        // An inverted range counts down with the up arrow, as the platform's control does.
        int next = Clamp(position_ + (low_ <= high_ ? direction : -direction));
        if (next == position_) return;
        position_ = next;
        if (style_ & UDS_SETBUDDYINT) WriteBuddy(position_);
        if (moved) moved(position_);
    }
    void WriteBuddy(int value) {
        if (!buddy_) return;
        QString digits = QString::number(value);
        if (!(style_ & UDS_NOTHOUSANDS)) {
            int first = digits.startsWith('-') ? 1 : 0;
            for (int at = digits.size() - 3; at > first; at -= 3) digits.insert(at, ',');
        }
        buddy_->setText(digits);
    }

    std::uint32_t style_;
    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* buddy_ = nullptr;
    int low_ = 100;  // the platform's control starts with 100..0
    int high_ = 0;
    int position_ = 0;
};

struct Control {
    int id;
    DialogControlKind kind;
    QWidget* widget;
    bool shown;
};

class DialogWindow : public QDialog {
public:
    DialogWindow(const DialogResource& resource, QWidget* owner, DialogProc proc, void* param)
        : QDialog(owner), resource_(resource), proc_(proc), param_(param) {
        setObjectName(QString("dialog%1").arg(resource.id));
        setWindowTitle(QString::fromLatin1(resource.caption));
        setFont(DialogFont(resource));
        units_ = UnitsOf(font());
        setWindowFlags(Flags(resource.style));
        PixelRect client = MapDialogRect(units_, resource.x, resource.y, resource.width, resource.height);
        setFixedSize(client.width, client.height);
        // Moves without a button reach the procedure too (links that follow the pointer).
        setMouseTracking(true);
        for (std::size_t i = 0; i < resource.controlCount; ++i) Build(resource.controls[i]);
        QWidget* previous = nullptr;
        for (const Control& control : controls_) {
            if (control.widget->focusPolicy() == Qt::NoFocus) continue;
            if (previous) QWidget::setTabOrder(previous, control.widget);
            previous = control.widget;
        }
        if (resource.style & DS_CENTER)
            Centre();
        else if (owner)
            move(owner->mapToGlobal(QPoint(client.x, client.y)));
    }

    // A drop-down list as wide as its longest entry needs where the template
    // leaves room: from its own position, never past the next shown control
    // to its right nor past the inside of its group box. Its open list is
    // always as wide as the entries, as the desktops' lists are.
    void FitDropDown(QComboBox* list) {
        QVariant kept = list->property("templateWidth");
        if (!kept.isValid()) list->setProperty("templateWidth", list->width());
        int templateWidth = list->property("templateWidth").toInt();
        int text = 0;
        for (int i = 0; i < list->count(); ++i)
            text = std::max(text, list->fontMetrics().horizontalAdvance(list->itemText(i)));
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = false;
        option.frame = true;
        int needed =
            list->style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text, list->height()), list).width();
        QRect box(list->x(), list->y(), templateWidth, list->height());
        int limit = width() - MapDialogRect(units_, 0, 0, 4, 0).width;
        int gap = MapDialogRect(units_, 0, 0, 2, 0).width;
        for (const Control& other : controls_) {
            if (other.widget == list || !other.shown) continue;
            QRect at = other.widget->geometry();
            if (other.kind == DialogControlKind::GroupBox) {
                if (at.contains(box)) limit = std::min(limit, at.right() + 1 - MapDialogRect(units_, 0, 0, 4, 0).width);
            } else if (at.left() >= box.right() && at.top() <= box.bottom() && at.bottom() >= box.top()) {
                limit = std::min(limit, at.left() - gap);
            }
        }
        list->resize(std::max(templateWidth, std::min(needed, limit - box.x())), list->height());
        int popup = text + 2 * list->fontMetrics().averageCharWidth() +
                    list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
        list->view()->setMinimumWidth(std::max(popup, list->width()));
    }

    const DialogResource& Resource() const { return resource_; }
    void* Param() const { return param_; }
    DialogBaseUnits Units() const { return units_; }
    bool Ended() const { return ended_; }
    int Result() const { return result_; }

    Control* Find(int id) {
        for (Control& control : controls_)
            if (control.id == id) return &control;
        return nullptr;
    }
    std::vector<Control>& Controls() { return controls_; }
    Control* Find(QWidget* widget) {
        for (Control& control : controls_)
            if (control.widget == widget) return &control;
        return nullptr;
    }

    bool Deliver(const DialogEvent& event) { return proc_ && proc_(Handle(this), event, param_); }
    void Command(int id, int notification) {
        DialogEvent event{DialogEventKind::Command};
        event.control = id;
        event.notification = notification;
        Deliver(event);
    }
    void CloseRequest() {
        if (!Deliver(DialogEvent{DialogEventKind::Close})) Command(2, BN_CLICKED);
    }

    void Init() {
        Deliver(DialogEvent{DialogEventKind::Init});
        if (!ended_) FocusFirst();
    }
    void End(int result) {
        ended_ = true;
        result_ = result;
        QDialog::done(result);
    }
    void SetTimer(int id, int milliseconds) {
        QTimer*& timer = timers_[id];
        if (!timer) {
            timer = new QTimer(this);
            QObject::connect(timer, &QTimer::timeout, this, [this, id] {
                DialogEvent event{DialogEventKind::Timer};
                event.control = id;
                Deliver(event);
            });
        }
        timer->start(milliseconds);
    }
    void KillTimer(int id) {
        auto found = timers_.find(id);
        if (found != timers_.end() && found->second) found->second->stop();
    }

    // Ends only through EndDialog: Escape and the close box are events for the procedure.
    void reject() override {}
    void accept() override {}
    void done(int) override {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                auto* button = dynamic_cast<QPushButton*>(focusWidget());
                Control* focused = button && !button->isCheckable() ? Find(button) : nullptr;
                Command(focused ? focused->id : DefaultId(), BN_CLICKED);
                return;
            }
            case Qt::Key_Escape: Command(2, BN_CLICKED); return;
            case Qt::Key_F1: Deliver(DialogEvent{DialogEventKind::Help}); return;
            default: QDialog::keyPressEvent(event);
        }
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        CloseRequest();
    }
    void paintEvent(QPaintEvent* event) override {
        QDialog::paintEvent(event);
        // Without a caption the window manager draws no border: the dialog
        // frame is ours, raised, so the box stands out from the one behind it.
        std::uint32_t style = resource_.style;
        if ((style & WS_CAPTION) != WS_CAPTION && (style & (DS_MODALFRAME | WS_DLGFRAME))) {
            QPainter painter(this);
            painter.setPen(palette().color(QPalette::Shadow));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
            qDrawWinPanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), false);
        }
    }
    void mousePressEvent(QMouseEvent* event) override { Mouse(DialogEventKind::MouseDown, event); }
    void mouseMoveEvent(QMouseEvent* event) override { Mouse(DialogEventKind::MouseMove, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { Mouse(DialogEventKind::MouseUp, event); }
    void Mouse(DialogEventKind kind, QMouseEvent* event) {
        DialogEvent mouse{kind};
        QPoint global = event->globalPosition().toPoint();
        mouse.x = global.x();
        mouse.y = global.y();
        mouse.button = event->button() == Qt::LeftButton     ? 1
                       : event->button() == Qt::RightButton  ? 2
                       : event->button() == Qt::MiddleButton ? 3
                                                             : 0;
        if (kind != DialogEventKind::MouseMove && mouse.button == 0) {
            event->ignore();
            return;
        }
        if (!Deliver(mouse)) event->ignore();
    }
    void changeEvent(QEvent* event) override {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange) {
            bool minimised = windowState() & Qt::WindowMinimized;
            if (minimised && !wasMinimised_) Deliver(DialogEvent{DialogEventKind::Minimise});
            // The window manager restores before it activates; the activation
            // still counts as one of a minimised window.
            if (!minimised && wasMinimised_) restoredFromMinimised_ = true;
            wasMinimised_ = minimised;
        } else if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
            DialogEvent activate{DialogEventKind::Activate};
            activate.byMouseClick = QGuiApplication::mouseButtons() != Qt::NoButton;
            activate.minimised = isMinimized() || restoredFromMinimised_;
            restoredFromMinimised_ = false;
            Deliver(activate);
        }
    }

private:
    static QFont DialogFont(const DialogResource& resource) {
        QString name = QString::fromLatin1(resource.fontName);
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        // The platform's logical dialog fonts are the desktop's default sans.
        static const char* const logical[] = {"MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "Tahoma"};
        bool isLogical = std::any_of(std::begin(logical), std::end(logical),
                                     [&](const char* n) { return name.compare(n, Qt::CaseInsensitive) == 0; });
        if (!isLogical) font.setFamily(name);
        font.setPointSize(resource.fontPointSize);
        return font;
    }
    static DialogBaseUnits UnitsOf(const QFont& font) {
        QFontMetrics metrics(font);
        int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        return {(letters / 26 + 1) / 2, metrics.height()};
    }
    static Qt::WindowFlags Flags(std::uint32_t style) {
        Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
        if ((style & WS_CAPTION) == WS_CAPTION) {
            flags |= Qt::WindowTitleHint;
            if (style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            if (style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
        } else {
            flags |= Qt::FramelessWindowHint;
        }
        return flags;
    }
    // Over the owner's window when there is one (the desktop's way for a
    // dialog that belongs to another), else on the screen; kept on the screen.
    void Centre() {
        QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
        QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        if (!screen) return;
        QRect area = screen->availableGeometry();
        QPoint centre = owner && owner->isVisible() ? owner->frameGeometry().center() : area.center();
        QPoint topLeft = centre - QPoint(width() / 2, height() / 2);
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
        move(topLeft);
    }
    int DefaultId() const {
        for (const Control& control : controls_)
            if (control.kind == DialogControlKind::DefaultPushButton) return control.id;
        return 1;
    }
    void FocusFirst() {
        for (const Control& control : controls_)
            if (control.shown && control.widget->isEnabled() && control.widget->focusPolicy() != Qt::NoFocus) {
                control.widget->setFocus(Qt::TabFocusReason);
                return;
            }
    }

    void Build(const DialogControlResource& item) {
        DialogControlKind kind = ClassifyDialogControl(item.className, item.style);
        QString text = QString::fromLatin1(item.text);
        PixelRect rect = MapDialogRect(units_, item.x, item.y, item.width, item.height);
        std::uint32_t style = item.style;
        bool tabStop = style & WS_TABSTOP;
        QWidget* widget = nullptr;
        int id = item.id;
        switch (kind) {
            case DialogControlKind::Static: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                std::uint32_t type = style & SS_TYPEMASK;
                Qt::Alignment horizontal = type == SS_CENTER  ? Qt::AlignHCenter
                                           : type == SS_RIGHT ? Qt::AlignRight
                                                              : Qt::AlignLeft;
                label->setAlignment(horizontal | Qt::AlignTop);
                label->setWordWrap(type != SS_LEFTNOWORDWRAP);
                label->setFocusPolicy(Qt::NoFocus);
                label->setMouseTracking(true);  // the pointer's moves pass on to the dialog
                widget = label;
                break;
            }
            case DialogControlKind::Picture: {
                auto* label = new QLabel(this);
                if (style & SS_SUNKEN) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setAlignment(style & SS_CENTERIMAGE ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
                label->setFocusPolicy(Qt::NoFocus);
                label->setMouseTracking(true);
                widget = label;
                break;
            }
            case DialogControlKind::GroupBox: {
                auto* group = new TemplateGroupBox(text, this);
                group->setFocusPolicy(Qt::NoFocus);
                widget = group;
                break;
            }
            case DialogControlKind::Edit: {
                auto* edit = new QLineEdit(this);
                edit->setReadOnly(style & ES_READONLY);
                if (style & ES_READONLY) {
                    // On the dialog's face, as the platform shows a field that can't be typed into.
                    QPalette face = edit->palette();
                    face.setColor(QPalette::Base, face.color(QPalette::Window));
                    edit->setPalette(face);
                }
                edit->setFrame(style & WS_BORDER);
                if (style & ES_NUMBER)
                    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
                edit->installEventFilter(this);
                QObject::connect(edit, &QLineEdit::textChanged, this, [this, id, edit] {
                    DialogEvent event{DialogEventKind::Command};
                    event.control = id;
                    event.notification = EN_UPDATE;
                    SelectionOf(edit, &event.selectionStart, &event.selectionEnd);
                    Deliver(event);
                });
                widget = edit;
                break;
            }
            case DialogControlKind::PushButton:
            case DialogControlKind::DefaultPushButton: {
                auto* button = new QPushButton(text, this);
                button->setAutoDefault(false);
                button->setDefault(kind == DialogControlKind::DefaultPushButton);
                QObject::connect(button, &QPushButton::clicked, this, [this, id] { Command(id, BN_CLICKED); });
                widget = button;
                break;
            }
            case DialogControlKind::CheckBox: {
                QAbstractButton* button;
                if (style & BS_PUSHLIKE) {
                    auto* push = new QPushButton(text, this);
                    push->setCheckable(true);
                    push->setAutoDefault(false);
                    button = push;
                } else if (style & BS_MULTILINE) {
                    button = new WrappingCheckBox(text, this);
                } else {
                    button = new QCheckBox(text, this);
                }
                QObject::connect(button, &QAbstractButton::clicked, this, [this, id] { Command(id, BN_CLICKED); });
                widget = button;
                break;
            }
            case DialogControlKind::DropDownList: {
                auto* list = new QComboBox(this);
                list->setEditable(false);
                // Only a choice the user completes is reported, not every highlight.
                QObject::connect(list, &QComboBox::activated, this, [this, id] { Command(id, CBN_SELENDOK); });
                int closed = std::max(list->sizeHint().height(), MapDialogRect(units_, 0, 0, 0, 12).height);
                int row = list->fontMetrics().height() + 2;
                list->setMaxVisibleItems(std::max(1, (rect.height - closed) / row));
                rect.height = std::min(closed, rect.height);
                widget = list;
                break;
            }
            case DialogControlKind::UpDown: {
                auto* upDown = new UpDownControl(this, style);
                QLineEdit* buddy = nullptr;
                if ((style & UDS_AUTOBUDDY) && !controls_.empty())
                    buddy = dynamic_cast<QLineEdit*>(controls_.back().widget);
                upDown->Bind(buddy);
                if (buddy && (style & UDS_ALIGNRIGHT)) {
                    // The up-down takes the right end of its buddy, which gives up that width.
                    QRect buddyRect = buddy->geometry();
                    buddyRect.setWidth(std::max(0, buddyRect.width() - rect.width));
                    buddy->setGeometry(buddyRect);
                    rect = {buddyRect.x() + buddyRect.width(), buddyRect.y(), rect.width, buddyRect.height()};
                }
                upDown->moved = [this, id](int position) {
                    DialogEvent event{DialogEventKind::VScroll};
                    event.control = id;
                    event.position = position;
                    Deliver(event);
                };
                widget = upDown;
                break;
            }
            case DialogControlKind::ProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setRange(0, 100);
                bar->setValue(0);
                bar->setTextVisible(false);
                bar->setFocusPolicy(Qt::NoFocus);
                widget = bar;
                break;
            }
            case DialogControlKind::RichEdit: {
                auto* edit = new QTextEdit(this);
                edit->setReadOnly(style & ES_READONLY);
                edit->setFrameStyle(style & WS_BORDER ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
                edit->setVerticalScrollBarPolicy(style & WS_VSCROLL ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
                widget = edit;
                break;
            }
            case DialogControlKind::Invalid: return;  // the resource compiler refuses these
        }
        widget->setObjectName(id == IDC_STATIC ? QString() : QString("control%1").arg(id));
        widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
        if (widget->focusPolicy() != Qt::NoFocus) widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        widget->setEnabled(!(style & WS_DISABLED));
        bool shown = style & WS_VISIBLE;
        widget->setVisible(shown);
        controls_.push_back({id, kind, widget, shown});
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            auto* focus = static_cast<QFocusEvent*>(event);
            Control* control = Find(static_cast<QWidget*>(watched));
            if (control && control->kind == DialogControlKind::Edit && focus->reason() != Qt::PopupFocusReason)
                Command(control->id, EN_KILLFOCUS);
        }
        return QDialog::eventFilter(watched, event);
    }

    const DialogResource& resource_;
    DialogProc proc_;
    void* param_;
    DialogBaseUnits units_{};
    std::vector<Control> controls_;
    std::map<int, QTimer*> timers_;
    bool ended_ = false;
    int result_ = 0;
    bool wasMinimised_ = false;
    bool restoredFromMinimised_ = false;
};

DialogWindow* DialogOf(HWND window) { return window ? dynamic_cast<DialogWindow*>(Widget(window)) : nullptr; }

Control* ControlOf(HWND dialog, int id) {
    DialogWindow* window = DialogOf(dialog);
    return window ? window->Find(id) : nullptr;
}

template <class T>
T* ControlAs(HWND dialog, int id) {
    Control* control = ControlOf(dialog, id);
    return control ? dynamic_cast<T*>(control->widget) : nullptr;
}

QString TextOf(QWidget* widget) {
    if (auto* dialog = dynamic_cast<QDialog*>(widget)) return dialog->windowTitle();
    if (auto* edit = dynamic_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* label = dynamic_cast<QLabel*>(widget)) return label->text();
    if (auto* button = dynamic_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = dynamic_cast<QGroupBox*>(widget)) return group->title();
    if (auto* list = dynamic_cast<QComboBox*>(widget)) return list->currentText();
    if (auto* rich = dynamic_cast<QTextEdit*>(widget)) return rich->toPlainText();
    return widget->windowTitle();
}

void SetTextOf(QWidget* widget, const QString& text) {
    if (auto* dialog = dynamic_cast<QDialog*>(widget))
        dialog->setWindowTitle(text);
    else if (auto* edit = dynamic_cast<QLineEdit*>(widget))
        edit->setText(text);
    else if (auto* label = dynamic_cast<QLabel*>(widget))
        label->setText(text);
    else if (auto* button = dynamic_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* group = dynamic_cast<QGroupBox*>(widget))
        group->setTitle(text);
    else if (auto* rich = dynamic_cast<QTextEdit*>(widget))
        rich->setPlainText(text);
    else
        widget->setWindowTitle(text);
}

int CopyOut(const QString& text, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    QByteArray bytes = text.toLatin1();
    int length = std::min(static_cast<int>(bytes.size()), size - 1);
    std::memcpy(buffer, bytes.constData(), length);
    buffer[length] = '\0';
    return length;
}

DialogWindow* Create(HINSTANCE module, int templateId, HWND owner, DialogProc proc, void* param) {
    const DialogResource* resource = FindDialogResource(module, templateId);
    if (!resource) return nullptr;
    return new DialogWindow(*resource, owner ? Widget(owner) : nullptr, proc, param);
}

}  // namespace

const DialogResource* FindDialogResource(HINSTANCE module, int templateId) {
    if (!module || !module->dialogs) return nullptr;
    for (std::size_t i = 0; i < module->dialogCount; ++i)
        if (module->dialogs[i].id == templateId) return &module->dialogs[i];
    return nullptr;
}

PixelRect MapDialogRect(DialogBaseUnits units, int x, int y, int width, int height) {
    auto scale = [](int value, int base, int divisor) {
        long long product = static_cast<long long>(value) * base;
        return static_cast<int>(product >= 0 ? (product + divisor / 2) / divisor
                                             : -((-product + divisor / 2) / divisor));
    };
    return {scale(x, units.baseX, 4), scale(y, units.baseY, 8), scale(width, units.baseX, 4),
            scale(height, units.baseY, 8)};
}

int DialogBoxParamA(HINSTANCE module, int templateId, HWND owner, DialogProc proc, void* param) {
    DialogWindow* dialog = Create(module, templateId, owner, proc, param);
    if (!dialog) return -1;
    dialog->Init();
    int result = dialog->Result();
    if (!dialog->Ended()) {
        dialog->setModal(true);
        dialog->QDialog::exec();
        result = dialog->Result();
    }
    delete dialog;
    return result;
}

HWND CreateDialogParamA(HINSTANCE module, int templateId, HWND owner, DialogProc proc, void* param) {
    DialogWindow* dialog = Create(module, templateId, owner, proc, param);
    if (!dialog) return nullptr;
    dialog->Init();
    if (dialog->Ended()) {
        delete dialog;
        return nullptr;
    }
    dialog->show();
    return Handle(dialog);
}

void DestroyWindow(HWND window) { delete Widget(window); }

bool EndDialog(HWND dialog, int result) {
    DialogWindow* window = DialogOf(dialog);
    if (!window) return false;
    window->End(result);
    return true;
}

void* GetDialogParam(HWND dialog) {
    DialogWindow* window = DialogOf(dialog);
    return window ? window->Param() : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
    Control* control = ControlOf(dialog, id);
    return control ? Handle(control->widget) : nullptr;
}

int GetDlgItemCount(HWND dialog) {
    DialogWindow* window = DialogOf(dialog);
    return window ? static_cast<int>(window->Controls().size()) : 0;
}

HWND GetDlgItemAt(HWND dialog, int index) {
    DialogWindow* window = DialogOf(dialog);
    if (!window || index < 0 || index >= static_cast<int>(window->Controls().size())) return nullptr;
    return Handle(window->Controls()[index].widget);
}

int GetDlgCtrlID(HWND control) {
    if (!control) return 0;
    DialogWindow* dialog = DialogOf(Widget(control)->parentWidget());
    Control* found = dialog ? dialog->Find(Widget(control)) : nullptr;
    return found ? found->id : 0;
}

DialogControlKind GetDlgItemKind(HWND dialog, int id) {
    Control* control = ControlOf(dialog, id);
    return control ? control->kind : DialogControlKind::Invalid;
}

bool SetDlgItemTextA(HWND dialog, int id, const char* text) {
    Control* control = ControlOf(dialog, id);
    if (!control) return false;
    SetTextOf(control->widget, QString::fromLatin1(text ? text : ""));
    return true;
}

int GetDlgItemTextA(HWND dialog, int id, char* buffer, int size) {
    Control* control = ControlOf(dialog, id);
    return CopyOut(control ? TextOf(control->widget) : QString(), buffer, size);
}

void CheckDlgButton(HWND dialog, int id, bool checked) {
    if (auto* button = ControlAs<QAbstractButton>(dialog, id)) button->setChecked(checked);
}

bool IsDlgButtonChecked(HWND dialog, int id) {
    auto* button = ControlAs<QAbstractButton>(dialog, id);
    return button && button->isChecked();
}

void EnableDlgItem(HWND dialog, int id, bool enable) {
    if (Control* control = ControlOf(dialog, id)) control->widget->setEnabled(enable);
}

bool IsDlgItemEnabled(HWND dialog, int id) {
    Control* control = ControlOf(dialog, id);
    return control && control->widget->isEnabled();
}

void ShowDlgItem(HWND dialog, int id, bool show) {
    if (Control* control = ControlOf(dialog, id)) {
        control->shown = show;
        control->widget->setVisible(show);
    }
}

bool IsDlgItemShown(HWND dialog, int id) {
    Control* control = ControlOf(dialog, id);
    return control && control->shown;
}

int AddListItem(HWND dialog, int id, const char* text) {
    auto* list = ControlAs<QComboBox>(dialog, id);
    if (!list) return -1;
    // A new list selects nothing until told, like the platform's list.
    int index = list->count();
    int selected = list->currentIndex();
    list->addItem(QString::fromLatin1(text ? text : ""));
    list->setCurrentIndex(selected);
    DialogOf(dialog)->FitDropDown(list);
    return index;
}

void ResetList(HWND dialog, int id) {
    if (auto* list = ControlAs<QComboBox>(dialog, id)) list->clear();
}

int GetListCount(HWND dialog, int id) {
    auto* list = ControlAs<QComboBox>(dialog, id);
    return list ? list->count() : 0;
}

void SetListSelection(HWND dialog, int id, int index) {
    if (auto* list = ControlAs<QComboBox>(dialog, id))
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

int GetListSelection(HWND dialog, int id) {
    auto* list = ControlAs<QComboBox>(dialog, id);
    return list ? list->currentIndex() : -1;
}

void SetSpinRange(HWND dialog, int id, int low, int high) {
    if (auto* spin = ControlAs<UpDownControl>(dialog, id)) spin->SetRange(low, high);
}

void GetSpinRange(HWND dialog, int id, int* low, int* high) {
    if (auto* spin = ControlAs<UpDownControl>(dialog, id)) {
        spin->Range(low, high);
        return;
    }
    if (low) *low = 0;
    if (high) *high = 0;
}

void SetSpinPos(HWND dialog, int id, int position) {
    if (auto* spin = ControlAs<UpDownControl>(dialog, id)) spin->SetPosition(position);
}

int GetSpinPos(HWND dialog, int id) {
    auto* spin = ControlAs<UpDownControl>(dialog, id);
    return spin ? spin->Position() : 0;
}

HWND GetSpinBuddy(HWND dialog, int id) {
    auto* spin = ControlAs<UpDownControl>(dialog, id);
    return spin ? Handle(spin->Buddy()) : nullptr;
}

void SetProgressRange(HWND dialog, int id, int low, int high) {
    if (auto* bar = ControlAs<QProgressBar>(dialog, id)) bar->setRange(low, high);
}

void SetProgressPos(HWND dialog, int id, int position) {
    if (auto* bar = ControlAs<QProgressBar>(dialog, id))
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

int GetProgressPos(HWND dialog, int id) {
    auto* bar = ControlAs<QProgressBar>(dialog, id);
    return bar ? bar->value() : 0;
}

void GetEditSelection(HWND dialog, int id, int* start, int* end) {
    int from = 0;
    int to = 0;
    if (auto* edit = ControlAs<QLineEdit>(dialog, id)) SelectionOf(edit, &from, &to);
    if (start) *start = from;
    if (end) *end = to;
}

void SetEditSelection(HWND dialog, int id, int start, int end) {
    auto* edit = ControlAs<QLineEdit>(dialog, id);
    if (!edit) return;
    int length = static_cast<int>(edit->text().size());
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    if (start == end)
        edit->setCursorPosition(end);
    else
        edit->setSelection(start, end - start);
}

void SetDlgItemBitmap(HWND dialog, int id, int width, int height, int bitsPerPixel, const void* pixels) {
    auto* label = ControlAs<QLabel>(dialog, id);
    if (!label) return;
    if (!pixels || width <= 0 || height <= 0 || (bitsPerPixel != 24 && bitsPerPixel != 8)) {
        label->setPixmap(QPixmap());
        return;
    }
    int bytes = bitsPerPixel / 8;
    int stride = (width * bytes + 3) & ~3;
    QImage image(width, height, QImage::Format_RGB32);
    const auto* bits = static_cast<const unsigned char*>(pixels);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = bits + static_cast<std::size_t>(height - 1 - y) * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = bytes == 3 ? qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]) : qRgb(row[x], row[x], row[x]);
    }
    label->setPixmap(QPixmap::fromImage(image));
}

void PostCommand(HWND dialog, int id, int notification) {
    DialogWindow* window = DialogOf(dialog);
    if (window)
        QMetaObject::invokeMethod(
            window, [window, id, notification] { window->Command(id, notification); }, Qt::QueuedConnection);
}

void PostClose(HWND dialog) {
    DialogWindow* window = DialogOf(dialog);
    if (window)
        QMetaObject::invokeMethod(
            window, [window] { window->CloseRequest(); }, Qt::QueuedConnection);
}

bool SetWindowTextA(HWND window, const char* text) {
    if (!window) return false;
    SetTextOf(Widget(window), QString::fromLatin1(text ? text : ""));
    return true;
}

int GetWindowTextA(HWND window, char* buffer, int size) {
    return CopyOut(window ? TextOf(Widget(window)) : QString(), buffer, size);
}

void ShowWindow(HWND window, int command) {
    if (!window) return;
    QWidget* widget = Widget(window);
    switch (command) {
        case SW_HIDE: widget->hide(); break;
        case SW_MINIMIZE: widget->showMinimized(); break;
        case SW_RESTORE:
        case SW_SHOWNORMAL: widget->showNormal(); break;
        default: widget->show(); break;
    }
}

bool IsIconic(HWND window) { return window && Widget(window)->isMinimized(); }

HWND GetForegroundWindow() { return Handle(QApplication::activeWindow()); }

void FlashWindow(HWND window, bool) {
    if (window) QApplication::alert(Widget(window), 0);
}

void SetWindowCursor(HWND window, int cursorId) {
    if (!window) return;
    Qt::CursorShape shape = cursorId == IDC_HAND   ? Qt::PointingHandCursor
                            : cursorId == IDC_WAIT ? Qt::WaitCursor
                                                   : Qt::ArrowCursor;
    Widget(window)->setCursor(shape);
}

void SetDialogTimer(HWND dialog, int timerId, int milliseconds) {
    if (DialogWindow* window = DialogOf(dialog)) window->SetTimer(timerId, milliseconds);
}

void KillDialogTimer(HWND dialog, int timerId) {
    if (DialogWindow* window = DialogOf(dialog)) window->KillTimer(timerId);
}

DialogBaseUnits GetDialogBaseUnits(HWND dialog) {
    DialogWindow* window = DialogOf(dialog);
    return window ? window->Units() : DialogBaseUnits{0, 0};
}

struct CursorHandle {
    QCursor cursor;
};

struct FontHandle {
    QFont font;
};

HCURSOR LoadCursorA(HINSTANCE module, int id) {
    HRSRC resource = FindResourceA(module, id, "CURSOR");
    const void* bytes = LockResource(LoadResource(module, resource));
    if (!bytes) return nullptr;
    QPixmap picture;
    if (!picture.loadFromData(static_cast<const uchar*>(bytes), SizeofResource(module, resource), "PNG"))
        return nullptr;
    return new CursorHandle{QCursor(picture, 10, 1)};
}

void SetWindowCursorHandle(HWND window, HCURSOR cursor) {
    if (!window) return;
    Widget(window)->setCursor(cursor ? cursor->cursor : QCursor(Qt::ArrowCursor));
}

bool SetProgramIcon(HINSTANCE module, int id) {
    HRSRC resource = FindResourceA(module, id, "ICON");
    const void* bytes = LockResource(LoadResource(module, resource));
    QPixmap picture;
    if (!bytes || !picture.loadFromData(static_cast<const uchar*>(bytes), SizeofResource(module, resource), "PNG"))
        return false;
    QApplication::setWindowIcon(QIcon(picture));
    return true;
}

void GetCursorPos(int* x, int* y) {
    QPoint at = QCursor::pos();
    if (x) *x = at.x();
    if (y) *y = at.y();
}

PixelRect GetWindowRect(HWND window) {
    if (!window) return {0, 0, 0, 0};
    QWidget* widget = Widget(window);
    if (widget->isWindow()) {
        QRect frame = widget->frameGeometry();
        return {frame.x(), frame.y(), frame.width(), frame.height()};
    }
    QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return {origin.x(), origin.y(), widget->width(), widget->height()};
}

void MoveWindow(HWND window, int x, int y, int width, int height) {
    if (!window) return;
    QWidget* widget = Widget(window);
    widget->move(x, y);
    if (widget->width() != width || widget->height() != height) widget->resize(width, height);
}

void GetDefaultGuiFont(LOGFONTA* font) {
    if (!font) return;
    QFont general = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    *font = LOGFONTA{};
    font->lfHeight = -QFontInfo(general).pixelSize();
    font->lfWeight = general.weight();
    font->lfItalic = general.italic();
    font->lfUnderline = general.underline();
    std::snprintf(font->lfFaceName, sizeof font->lfFaceName, "%s", general.family().toLatin1().constData());
}

HFONT CreateFontIndirectA(const LOGFONTA* description) {
    if (!description) return nullptr;
    QFont font(QString::fromLatin1(description->lfFaceName));
    if (description->lfHeight != 0) font.setPixelSize(std::abs(description->lfHeight));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(description->lfWeight, 1, 1000)));
    font.setItalic(description->lfItalic);
    font.setUnderline(description->lfUnderline);
    return new FontHandle{font};
}

void SetDlgItemFont(HWND dialog, int id, HFONT font) {
    if (Control* control = ControlOf(dialog, id)) {
        if (font)
            control->widget->setFont(font->font);
        else
            control->widget->setFont(Widget(dialog)->font());
    }
}

COLORREF GetSysColor(int index) {
    QColor colour = index == COLOR_BTNFACE ? QApplication::palette().color(QPalette::Button)
                                           : QApplication::palette().color(QPalette::Window);
    return RGB(colour.red(), colour.green(), colour.blue());
}

void SetDlgItemColors(HWND dialog, int id, COLORREF text, COLORREF background) {
    SetControlColors(GetDlgItem(dialog, id), text, background);
}

void SetControlColors(HWND control, COLORREF text, COLORREF background) {
    if (!control) return;
    auto colour = [](COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); };
    QWidget* widget = Widget(control);
    QPalette palette = widget->palette();
    if (dynamic_cast<QTextEdit*>(widget)) {
        palette.setColor(QPalette::Text, colour(text));
        palette.setColor(QPalette::Base, colour(background));
    } else {
        palette.setColor(QPalette::WindowText, colour(text));
        palette.setColor(QPalette::Window, colour(background));
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
    widget->update();
}

void SetDlgItemRichText(HWND dialog, int id, const char* html) {
    if (auto* rich = ControlAs<QTextEdit>(dialog, id)) rich->setHtml(QString::fromUtf8(html ? html : ""));
}
