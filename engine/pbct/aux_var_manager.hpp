#pragma once
#include <cstdint>
#include <memory>

#include "pbct/row_history.hpp"

namespace zorv::pbct {

// Hands out fresh variable numbers, counting up from the first one. The rows encoded with it
// leave their history here (copies share it): a row's encoding can depend on those before it.
class AuxVarManager {
public:
    explicit AuxVarManager(std::int64_t first);
    std::int64_t get_variable();
    // The number get_variable() gives next, drawing nothing.
    std::int64_t peek() const { return next_; }
    // Made at the first use: an allocator drawn for one instance of a template never reads it.
    RowHistory& history() {
        if (!history_) history_ = std::make_shared<RowHistory>();
        return *history_;
    }

private:
    std::int64_t next_;
    std::shared_ptr<RowHistory> history_;
};

}  // namespace zorv::pbct
