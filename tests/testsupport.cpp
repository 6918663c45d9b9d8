#include "tests/testsupport.h"
