// convert: the conversions every entry point shares.
#include "convert.h"
