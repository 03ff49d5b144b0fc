#include "Apcups.h"
