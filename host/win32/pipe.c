#include "pipe.h"
