#include "common/errors.hpp"
