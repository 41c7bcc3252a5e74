#pragma once

#include <cstddef>
#include <type_traits>

struct sqlite3;

// A connection to a project's database as sampledb's interface passes it around, owned by
// whoever opened it (a SqliteConnection, the writer's SQL connection). Outside sampledb it is
// only handed on; sampledb's own sources, which include SQLite's interface, take it to and from
// SQLite's native connection (the one type it converts to, declared above and never defined
// here).
class SqliteHandle
{
    template <typename Native>
    using IfNative = std::enable_if_t<std::is_same<Native, ::sqlite3>::value, int>;

public:
    SqliteHandle() = default;
    SqliteHandle(std::nullptr_t) {}
    template <typename Native, IfNative<Native> = 0> SqliteHandle(Native* native) : raw(native) {}

    template <typename Native, IfNative<Native> = 0> operator Native*() const
    {
        return static_cast<Native*>(raw);
    }
    explicit operator bool() const { return raw != nullptr; }

private:
    void* raw = nullptr;
};
