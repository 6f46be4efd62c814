// Moved to tests/scratch_folder.h, which every suite shares.
#pragma once

#include "../scratch_folder.h"
