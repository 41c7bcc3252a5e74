#pragma once

// libcurl's global set-up, which the library asks for once per process before any handle exists
// and which is not safe to run on two threads at once. Every user of libcurl calls setUp() before
// making its first handle; the first call does the work, later ones return at once.
class CurlLibrary
{
public:
    static void setUp();
};
