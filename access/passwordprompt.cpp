#include "passwordprompt.h"

#include "passwordhash.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

// The terminal as it was before the echo went off, for a signal that ends the program meanwhile:
// a person pressing Ctrl+C at the prompt gets their echo back.
termios savedTerminal = {};

extern "C" void restoreTerminalAndEnd(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

bool PasswordPrompt::fromTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool PasswordPrompt::read(const QString& prompt, QByteArray* password)
{
    PasswordHash::wipe(password);
    const bool terminal = fromTerminal();
    struct sigaction before[3] = {};
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    bool quiet = false;
    bool handlers = false;
    if (terminal) {
        const QByteArray text = prompt.toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
            struct sigaction restore = {};
            restore.sa_handler = restoreTerminalAndEnd;
            sigemptyset(&restore.sa_mask);
            for (int i = 0; i < 3; ++i)
                sigaction(signals[i], &restore, &before[i]);
            handlers = true;
            termios noEcho = savedTerminal;
            noEcho.c_lflag &= ~tcflag_t(ECHO);
            quiet = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho) == 0;
        }
    }
    // Byte by byte from the descriptor: nothing read ahead stays in a buffer of stdio, where the
    // next password would be missed (and this one left behind).
    password->reserve(PasswordHash::MaximumBytes + 1);
    bool any = false;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        any = true;
        if (c == '\n')
            break;
        if (password->size() <= PasswordHash::MaximumBytes)
            password->append(c);
    }
    if (password->endsWith('\r'))
        password->chop(1);
    if (terminal) {
        if (quiet)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (int i = 0; handlers && i < 3; ++i)
            sigaction(signals[i], &before[i], nullptr);
        std::fputc('\n', stderr);
    }
    return any;
}
