#pragma once

namespace zorv::pbct {

// LEQ: sum <= bound; GEQ: sum >= bound; BOTH: sum == bound.
enum class Comparator { LEQ, GEQ, BOTH };

}  // namespace zorv::pbct
