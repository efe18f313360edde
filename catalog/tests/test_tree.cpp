#include <gtest/gtest.h>

#include "catalog_tree.h"
