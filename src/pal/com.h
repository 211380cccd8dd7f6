// COM types for the component: the SDK on Windows, the exported subset elsewhere.
#pragma once
#include "orkv14.h"
