#pragma once

#include <QStringList>

// The recorder's headless command for administrators:
//   QuillmarLiteModbus --users PROJECT.tpc [MORE.tpc...] VERB ... [--as NAME] [--reason TEXT]
// with the verbs
//   add NAME ROLE | disable NAME | enable NAME | reset NAME | role NAME ROLE | list | recover NAME
// Passwords come from the terminal without echo, or one per line from the standard input: the
// signing-in administrator's first, then the new one. Every project must accept the sign-in
// before any is changed, so that one command disables a leaver everywhere or nowhere.
class UsersCommand
{
public:
    // The arguments after "--users". Answers the exit status: 0 done, 1 refused or failed,
    // 2 the command line is wrong.
    static int run(const QStringList& arguments);
};
