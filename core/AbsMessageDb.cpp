#include "AbsMessageDb.h"
