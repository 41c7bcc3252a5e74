#include "passwordprompt.h"

#include "passwordhash.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

bool PasswordPrompt::fromTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool PasswordPrompt::read(const QString& prompt, QByteArray* password)
{
    PasswordHash::wipe(password);
    const bool terminal = fromTerminal();
    termios saved = {};
    if (terminal) {
        const QByteArray text = prompt.toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
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
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    return any;
}
