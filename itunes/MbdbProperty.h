#pragma once

#include "MbdbString.h"

// One name/value pair at the end of a Manifest.mbdb record.
struct MbdbProperty
{
    MbdbString name;
    MbdbString value;
};
