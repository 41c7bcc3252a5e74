#pragma once

#include <QString>

// The release number the build declares (CMake's project version), e.g. "3.49": the one
// source of the version the programs show.
QString programVersion();
