#include "keep_awake.h"
