// Small dense matrices of doubles for the accelerometer calibration and the compass test.
#pragma once

#include <vector>

namespace qvl {

using TVector = std::vector<double>;
using TMatrix = std::vector<TVector>;  // rows of equal length, indexed [row][column]

inline int Rows(const TMatrix& m) {
  return int(m.size());
}
inline int Columns(const TMatrix& m) {
  return m.empty() ? 0 : int(m[0].size());
}

// M gets `rows` rows of `columns` elements; elements kept where they existed, new ones 0.
void SetMatrixSize(TMatrix& m, int rows, int columns);
void Transpose(const TMatrix& a, TMatrix& b);
void CopyMatrix(const TMatrix& a, TMatrix& b);
// C = A + B over the shape of A; B must be at least as large ("Invalid matrix operation").
void AddMatrix(const TMatrix& a, const TMatrix& b, TMatrix& c);
// C = A·B; "Invalid matrix operation" unless columns(A) = rows(B).
void MultiplyMatrix(const TMatrix& a, const TMatrix& b, TMatrix& c);
// R = A⁻¹ by Gauss-Jordan with partial pivoting; "Invalid matrix operation" unless square,
// "Singular matrix" when a pivot is zero (the last diagonal element included).
void InvertMatrix(const TMatrix& a, TMatrix& r);

}  // namespace qvl
