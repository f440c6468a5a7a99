#include "agent_text.h"
