// Helpers shared by the catalog tests.
#pragma once
