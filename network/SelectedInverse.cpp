#include "network/SelectedInverse.h"

#include <algorithm>
#include <stdexcept>

namespace rendle::network {

SelectedInverse::SelectedInverse(const Factor& factor) {
    const SparseMatrix& l = factor.matrixL().nestedExpression();
    const auto n = static_cast<int>(l.cols());
    const auto& indices = factor.permutationP().indices();
    permuted_.assign(indices.data(), indices.data() + indices.size());

    // L's strictly lower part, column by column, rows ascending.
    start_.assign(static_cast<size_t>(n) + 1, 0);
    std::vector<double> lower;
    for (int c = 0; c < n; ++c) {
        for (SparseMatrix::InnerIterator it(l, c); it; ++it) {
            if (it.row() <= c) continue;
            rows_.push_back(static_cast<int>(it.row()));
            lower.push_back(it.value());
        }
        start_[static_cast<size_t>(c) + 1] = static_cast<int64_t>(rows_.size());
    }
    values_.assign(rows_.size(), 0.0);
    diagonal_.assign(static_cast<size_t>(n), 0.0);
    const auto& d = factor.vectorD();

    // Zᵢⱼ = −Σₖ Lₖⱼ Zᵢₖ (i > j) and Zⱼⱼ = 1/Dⱼ − Σₖ Lₖⱼ Zₖⱼ, k over column j's rows: every Zᵢₖ
    // asked lies on the pattern, since the rows of a column of L are joined in the factor. Each
    // pair i < k of column j's rows is looked up once, in column i, where the rows k after i
    // come in the order of the column's own rows: one walk down column i finds them all.
    std::vector<double> sum;
    for (int j = n - 1; j >= 0; --j) {
        const int64_t begin = start_[static_cast<size_t>(j)];
        const int64_t end = start_[static_cast<size_t>(j) + 1];
        const auto count = static_cast<size_t>(end - begin);
        sum.assign(count, 0.0);
        for (size_t p = 0; p < count; ++p) {
            const auto at = static_cast<size_t>(begin) + p;
            const int i = rows_[at];
            sum[p] += lower[at] * diagonal_[static_cast<size_t>(i)];
            auto walk = static_cast<size_t>(start_[static_cast<size_t>(i)]);
            const auto stop = static_cast<size_t>(start_[static_cast<size_t>(i) + 1]);
            for (size_t q = p + 1; q < count; ++q) {
                const int k = rows_[static_cast<size_t>(begin) + q];
                while (walk < stop && rows_[walk] != k) ++walk;
                if (walk == stop) throw std::logic_error("the factor's pattern is not closed");
                const double z = values_[walk];  // Z(k, i)
                sum[p] += lower[static_cast<size_t>(begin) + q] * z;
                sum[q] += lower[at] * z;
            }
        }
        double diagonal = 1.0 / d[j];
        for (size_t p = 0; p < count; ++p) {
            const auto at = static_cast<size_t>(begin) + p;
            values_[at] = -sum[p];
            diagonal -= lower[at] * values_[at];
        }
        diagonal_[static_cast<size_t>(j)] = diagonal;
    }
}

double SelectedInverse::Below(int r, int c) const {
    const auto first = rows_.begin() + start_[static_cast<size_t>(c)];
    const auto last = rows_.begin() + start_[static_cast<size_t>(c) + 1];
    const auto at = std::lower_bound(first, last, r);
    if (at == last || *at != r) return 0.0;
    return values_[static_cast<size_t>(at - rows_.begin())];
}

double SelectedInverse::operator()(int i, int j) const {
    const int pi = permuted_[static_cast<size_t>(i)];
    const int pj = permuted_[static_cast<size_t>(j)];
    if (pi == pj) return diagonal_[static_cast<size_t>(pi)];
    return Below(std::max(pi, pj), std::min(pi, pj));
}

}  // namespace rendle::network
