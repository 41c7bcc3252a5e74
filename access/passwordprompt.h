#pragma once

#include <QByteArray>
#include <QString>

// Reads a password for the command line: from the terminal without echo when the standard input
// is one, otherwise one line of the standard input (a script's pipe). Never from an argument.
class PasswordPrompt
{
public:
    // Whether the standard input is a terminal (then a new password is asked twice).
    static bool fromTerminal();
    // The line without its line end; false at the end of the input. The prompt goes to the
    // standard error, and only when reading from the terminal. Longer lines than
    // PasswordHash::MaximumBytes are read whole but returned cut, so that the check refuses them.
    static bool read(const QString& prompt, QByteArray* password);
};
