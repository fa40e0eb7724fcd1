#pragma once

namespace zorv::lp {

// Domain of the columns of one variable block.
enum class var_type { continuous, integer, binary };

}  // namespace zorv::lp
