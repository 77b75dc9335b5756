#include "textinputv3.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QtWaylandCompositor/QWaylandClient>
#include <QtWaylandCompositor/QWaylandCompositor>
#include <QtWaylandCompositor/QWaylandQuickItem>
#include <QtWaylandCompositor/QWaylandSeat>

namespace Vorlane {

namespace {

constexpr int managerVersion = 1;

// The client's double-buffered state, applied on commit.
struct TextState
{
    bool enabled = false;
    QString surrounding;
    // Positions in the surrounding text, in characters.
    int cursor = 0;
    int anchor = 0;
    uint hint = 0;
    uint purpose = 0;
    QRect cursorRectangle;
};

// A byte offset into UTF-8 text as a character position in its decoded form; a client's offset
// beyond either end or inside a character is brought back into the text.
int characterPosition(const QByteArray &utf8, int offset)
{
    offset = qBound(0, offset, int(utf8.size()));
    while (offset > 0 && offset < utf8.size() && (uchar(utf8.at(offset)) & 0xc0) == 0x80)
        --offset;
    return int(QString::fromUtf8(utf8.constData(), offset).size());
}

int utf8Length(const QString &text)
{
    return int(text.toUtf8().size());
}

Qt::InputMethodHints hintsOf(uint hint, uint purpose)
{
    using Hint = QtWaylandServer::zwp_text_input_v3::content_hint;
    using Purpose = QtWaylandServer::zwp_text_input_v3::content_purpose;
    Qt::InputMethodHints hints;
    if (!(hint & Hint::content_hint_auto_capitalization))
        hints |= Qt::ImhNoAutoUppercase;
    if (!(hint & (Hint::content_hint_completion | Hint::content_hint_spellcheck)))
        hints |= Qt::ImhNoPredictiveText;
    if (hint & Hint::content_hint_lowercase)
        hints |= Qt::ImhPreferLowercase;
    if (hint & Hint::content_hint_uppercase)
        hints |= Qt::ImhPreferUppercase;
    if (hint & Hint::content_hint_hidden_text)
        hints |= Qt::ImhHiddenText | Qt::ImhNoPredictiveText;
    if (hint & Hint::content_hint_sensitive_data)
        hints |= Qt::ImhSensitiveData | Qt::ImhNoPredictiveText;
    if (hint & Hint::content_hint_latin)
        hints |= Qt::ImhLatinOnly;
    if (hint & Hint::content_hint_multiline)
        hints |= Qt::ImhMultiLine;
    switch (purpose) {
    case Purpose::content_purpose_digits:
        hints |= Qt::ImhDigitsOnly;
        break;
    case Purpose::content_purpose_number:
        hints |= Qt::ImhFormattedNumbersOnly;
        break;
    case Purpose::content_purpose_phone:
        hints |= Qt::ImhDialableCharactersOnly;
        break;
    case Purpose::content_purpose_url:
        hints |= Qt::ImhUrlCharactersOnly;
        break;
    case Purpose::content_purpose_email:
        hints |= Qt::ImhEmailCharactersOnly;
        break;
    case Purpose::content_purpose_password:
        hints |= Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText
            | Qt::ImhNoAutoUppercase;
        break;
    case Purpose::content_purpose_pin:
        hints |= Qt::ImhDigitsOnly | Qt::ImhHiddenText | Qt::ImhSensitiveData
            | Qt::ImhNoPredictiveText;
        break;
    case Purpose::content_purpose_date:
        hints |= Qt::ImhDate;
        break;
    case Purpose::content_purpose_time:
        hints |= Qt::ImhTime;
        break;
    case Purpose::content_purpose_datetime:
        hints |= Qt::ImhDate | Qt::ImhTime;
        break;
    default:
        break;
    }
    return hints;
}

} // namespace

// One zwp_text_input_v3 object of a client.
class TextInputV3 : public QtWaylandServer::zwp_text_input_v3
{
public:
    TextInputV3(TextInputManagerV3 *manager, wl_client *client, uint32_t id, int version)
        : QtWaylandServer::zwp_text_input_v3(client, id, version)
        , m_manager(manager)
    { }

    wl_client *client() const { return resource() ? resource()->client() : nullptr; }

    // The surface it was told about with enter, while it has the keyboard focus.
    QWaylandSurface *entered() const { return m_entered; }

    void enter(QWaylandSurface *surface)
    {
        m_entered = surface;
        send_enter(surface->resource());
    }

    // A left text input is disabled until its client enables it again.
    void leave(QWaylandSurface *surface)
    {
        if (surface && surface == m_entered && surface->resource())
            send_leave(surface->resource());
        m_entered = nullptr;
        m_pending.enabled = false;
        m_current.enabled = false;
    }

    const TextState &state() const { return m_current; }
    uint32_t serial() const { return m_serial; }

protected:
    void zwp_text_input_v3_destroy_resource(Resource *) override
    {
        m_manager->inputDestroyed(this); // deletes this
    }

    void zwp_text_input_v3_destroy(Resource *resource) override
    {
        wl_resource_destroy(resource->handle);
    }

    void zwp_text_input_v3_enable(Resource *) override
    {
        m_pending = TextState();
        m_pending.enabled = true;
    }

    void zwp_text_input_v3_disable(Resource *) override { m_pending.enabled = false; }

    void zwp_text_input_v3_set_surrounding_text(Resource *, const QString &text, int32_t cursor,
                                                int32_t anchor) override
    {
        // The generated code has decoded the text already; positions are bytes of its UTF-8.
        const QByteArray utf8 = text.toUtf8();
        m_pending.surrounding = text;
        m_pending.cursor = characterPosition(utf8, cursor);
        m_pending.anchor = characterPosition(utf8, anchor);
    }

    void zwp_text_input_v3_set_text_change_cause(Resource *, uint32_t) override { }

    void zwp_text_input_v3_set_content_type(Resource *, uint32_t hint, uint32_t purpose) override
    {
        m_pending.hint = hint;
        m_pending.purpose = purpose;
    }

    void zwp_text_input_v3_set_cursor_rectangle(Resource *, int32_t x, int32_t y, int32_t width,
                                                int32_t height) override
    {
        m_pending.cursorRectangle = QRect(x, y, qMax(0, width), qMax(0, height));
    }

    void zwp_text_input_v3_commit(Resource *) override
    {
        ++m_serial;
        const bool before = m_current.enabled;
        m_current = m_pending;
        // Only a text input that was told about the focused surface may enable text input.
        if (!m_entered)
            m_current.enabled = m_pending.enabled = false;
        m_manager->inputCommitted(this, before);
    }

private:
    TextInputManagerV3 *m_manager;
    QPointer<QWaylandSurface> m_entered;
    TextState m_pending;
    TextState m_current;
    uint32_t m_serial = 0;
};

TextInputManagerV3::TextInputManagerV3(QWaylandCompositor *compositor)
    : QWaylandCompositorExtensionTemplate<TextInputManagerV3>(compositor)
    , m_compositor(compositor)
{ }

TextInputManagerV3::~TextInputManagerV3()
{
    setActive(nullptr);
}

void TextInputManagerV3::initialize()
{
    QWaylandCompositorExtensionTemplate::initialize();
    init(m_compositor->display(), managerVersion);
    if (QWaylandSeat *seat = m_compositor->defaultSeat()) {
        connect(seat, &QWaylandSeat::keyboardFocusChanged, this,
                [this](QWaylandSurface *now, QWaylandSurface *) { focusChanged(now); });
        focusChanged(seat->keyboardFocus());
    }
}

QWaylandSurface *TextInputManagerV3::activeSurface() const
{
    return m_active ? m_active->entered() : nullptr;
}

void TextInputManagerV3::zwp_text_input_manager_v3_destroy(Resource *resource)
{
    wl_resource_destroy(resource->handle);
}

void TextInputManagerV3::zwp_text_input_manager_v3_get_text_input(Resource *resource, uint32_t id,
                                                                  struct ::wl_resource *)
{
    // Every seat of a client is the compositor's one seat.
    auto input = std::make_unique<TextInputV3>(this, resource->client(), id,
                                               wl_resource_get_version(resource->handle));
    if (m_focus && m_focus->client() && m_focus->client()->client() == resource->client())
        input->enter(m_focus);
    m_inputs.push_back(std::move(input));
}

void TextInputManagerV3::focusChanged(QWaylandSurface *now)
{
    if (now == m_focus)
        return;
    disconnect(m_focusDestroyed);
    QWaylandSurface *before = m_focus;
    m_focus = now;
    setActive(nullptr);
    for (const auto &input : m_inputs) {
        if (input->entered())
            input->leave(before);
    }
    if (!now || !now->client())
        return;
    // A surface that ends while it has the keyboard may never be followed by a focus change.
    m_focusDestroyed
        = connect(now, &QWaylandSurface::surfaceDestroyed, this, [this] { focusChanged(nullptr); });
    wl_client *client = now->client()->client();
    for (const auto &input : m_inputs) {
        if (input->client() == client)
            input->enter(now);
    }
}

void TextInputManagerV3::inputCommitted(TextInputV3 *input, bool enabledBefore)
{
    const bool enabled = input->state().enabled;
    if (enabled && input->entered() == m_focus) {
        if (m_active == input)
            QGuiApplication::inputMethod()->update(Qt::ImQueryInput | Qt::ImHints);
        else
            setActive(input);
    } else if (!enabled && enabledBefore && m_active == input) {
        setActive(nullptr);
    }
}

void TextInputManagerV3::inputDestroyed(TextInputV3 *input)
{
    if (m_active == input)
        setActive(nullptr);
    for (auto it = m_inputs.begin(); it != m_inputs.end(); ++it) {
        if (it->get() == input) {
            m_inputs.erase(it);
            break;
        }
    }
}

void TextInputManagerV3::setActive(TextInputV3 *input)
{
    if (m_active == input)
        return;
    const bool wasActive = m_active;
    m_active = input;
    // The filter sees every event of the program, so it is there only while text is typed.
    if (m_active && !wasActive)
        qApp->installEventFilter(this);
    else if (!m_active && wasActive)
        qApp->removeEventFilter(this);
    QInputMethod *inputMethod = QGuiApplication::inputMethod();
    inputMethod->update(Qt::ImQueryAll);
    if (m_active)
        inputMethod->show();
    else if (wasActive)
        inputMethod->hide();
    emit activeSurfaceChanged();
}

bool TextInputManagerV3::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::InputMethodQuery && type != QEvent::InputMethod && type != QEvent::KeyPress
        && type != QEvent::KeyRelease)
        return false;
    // The item with Qt Quick's focus may show a sub-surface of the focused client (Firefox
    // draws into one), not the surface that has the keyboard.
    auto *item = qobject_cast<QWaylandQuickItem *>(watched);
    QWaylandSurface *surface = item ? item->surface() : nullptr;
    if (!m_active || !surface || !surface->client()
        || surface->client()->client() != m_active->client())
        return false;
    switch (type) {
    case QEvent::InputMethodQuery:
        answerQuery(static_cast<QInputMethodQueryEvent *>(event));
        return true;
    case QEvent::InputMethod:
        sendInputMethodEvent(static_cast<QInputMethodEvent *>(event));
        return true;
    default:
        return sendTypedKey(static_cast<QKeyEvent *>(event));
    }
}

// The on-screen keyboard types plain characters as key events without a scan code, which the
// client's keymap may not have at all: they are committed as text instead. Keys of a real
// keyboard, and keys without text (backspace, enter, arrows), go on to the client's keyboard.
bool TextInputManagerV3::sendTypedKey(const QKeyEvent *event)
{
    const QString text = event->text();
    if (event->nativeScanCode() != 0 || text.isEmpty() || !text.at(0).isPrint())
        return false;
    if (event->type() == QEvent::KeyPress) {
        m_active->send_commit_string(text);
        m_active->send_done(m_active->serial());
    }
    return true;
}

void TextInputManagerV3::answerQuery(QInputMethodQueryEvent *query) const
{
    const TextState &state = m_active->state();
    const int from = qMin(state.cursor, state.anchor);
    const int to = qMax(state.cursor, state.anchor);
    for (uint bit = 1; bit && bit <= Qt::ImInputItemClipRectangle; bit <<= 1) {
        const auto which = Qt::InputMethodQuery(bit);
        if (!(query->queries() & which))
            continue;
        QVariant value;
        switch (which) {
        case Qt::ImEnabled:
            value = true;
            break;
        case Qt::ImHints:
            value = int(hintsOf(state.hint, state.purpose));
            break;
        case Qt::ImSurroundingText:
            value = state.surrounding;
            break;
        case Qt::ImCursorPosition:
            value = state.cursor;
            break;
        case Qt::ImAnchorPosition:
            value = state.anchor;
            break;
        case Qt::ImCurrentSelection:
            value = state.surrounding.mid(from, to - from);
            break;
        case Qt::ImTextBeforeCursor:
            value = state.surrounding.left(state.cursor);
            break;
        case Qt::ImTextAfterCursor:
            value = state.surrounding.mid(state.cursor);
            break;
        case Qt::ImCursorRectangle:
        case Qt::ImAnchorRectangle:
            value = QRectF(state.cursorRectangle);
            break;
        default:
            break;
        }
        query->setValue(which, value);
    }
    query->accept();
}

void TextInputManagerV3::sendInputMethodEvent(const QInputMethodEvent *event)
{
    TextInputV3 *input = m_active;
    const TextState &state = input->state();
    if (event->replacementLength() > 0 || event->replacementStart() != 0) {
        // A replacement around the cursor, in characters, becomes bytes before and after it.
        const int start = qBound(-state.cursor, event->replacementStart(),
                                 int(state.surrounding.size()) - state.cursor);
        const int end = qBound(start, start + event->replacementLength(),
                               int(state.surrounding.size()) - state.cursor);
        const int before = start < 0
            ? utf8Length(state.surrounding.mid(state.cursor + start, qMin(0, end) - start))
            : 0;
        const int after = end > 0
            ? utf8Length(state.surrounding.mid(state.cursor + qMax(0, start), end - qMax(0, start)))
            : 0;
        input->send_delete_surrounding_text(uint32_t(before), uint32_t(after));
    }
    if (!event->commitString().isEmpty())
        input->send_commit_string(event->commitString());
    const QString preedit = event->preeditString();
    int cursorBegin = -1;
    int cursorEnd = -1;
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor && attribute.length > 0) {
            cursorBegin = cursorEnd
                = utf8Length(preedit.left(qBound(0, attribute.start, int(preedit.size()))));
        }
    }
    input->send_preedit_string(preedit, cursorBegin, cursorEnd);
    input->send_done(input->serial());
}

} // namespace Vorlane
