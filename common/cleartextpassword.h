#pragma once

// Whether a target's password may travel without TLS, as the user chose it for that target.
// Unset: the project was saved before the choice existed; it goes on as it did, with a warning,
// until the user chooses.
enum class CleartextPassword
{
    Unset,
    Refused,
    Allowed
};
