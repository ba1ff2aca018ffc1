#include "arrangement.h"
