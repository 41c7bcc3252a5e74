#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;
class SignInSession;

// Who is signed in, for the recorder's status bar: "Signed in: NAME (ROLE)" with "Sign out", or
// "Not signed in" with "Sign in"; hidden while access control is off. It also watches the whole
// program's key and mouse input and tells the session's idle sign-out about it, so that a person
// at work is not signed out while one who walked away is.
class SignInStatus : public QWidget
{
    Q_OBJECT

public:
    // Asks for a sign-in; the recorder's Sign in dialog unless a test sets another.
    using Ask = std::function<void(SignInSession* session, QWidget* parent)>;
    // The narrowest the text becomes in a crowded status bar.
    static constexpr int MinimumLabelWidth = 120;

    explicit SignInStatus(SignInSession* session, QWidget* parent = nullptr);
    ~SignInStatus() override;

    void setAsk(const Ask& ask) { m_ask = ask; }

    QLabel* label() const { return m_label; }
    QToolButton* button() const { return m_button; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();
    void clicked();

    SignInSession* m_session;
    QLabel* m_label = nullptr;
    QToolButton* m_button = nullptr;
    Ask m_ask;
    // Set by an idle sign-out, for the tool tip; cleared at the next sign-in.
    QString m_idleNote;
};
