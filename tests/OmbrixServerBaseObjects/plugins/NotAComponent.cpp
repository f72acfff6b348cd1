#include "NotAComponent.h"
