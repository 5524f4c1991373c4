#include "core/device/matrix.h"

#include <cmath>
#include <utility>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

void InvalidOperation() {
  throw Exception("Invalid matrix operation");
}
void Singular() {
  throw Exception("Singular matrix");
}

}  // namespace

void SetMatrixSize(TMatrix& m, int rows, int columns) {
  m.resize(size_t(rows < 0 ? 0 : rows));
  for (TVector& row : m) row.resize(size_t(columns < 0 ? 0 : columns), 0.0);
}

void Transpose(const TMatrix& a, TMatrix& b) {
  TMatrix t;
  SetMatrixSize(t, Columns(a), Rows(a));
  for (int i = 0; i < Rows(a); ++i)
    for (int j = 0; j < Columns(a); ++j) t[size_t(j)][size_t(i)] = a[size_t(i)][size_t(j)];
  b = std::move(t);
}

void CopyMatrix(const TMatrix& a, TMatrix& b) {
  b = a;
}

void AddMatrix(const TMatrix& a, const TMatrix& b, TMatrix& c) {
  if (Rows(b) < Rows(a) || Columns(b) < Columns(a)) InvalidOperation();
  TMatrix sum = a;
  for (size_t i = 0; i < sum.size(); ++i)
    for (size_t j = 0; j < sum[i].size(); ++j) sum[i][j] += b[i][j];
  c = std::move(sum);
}

void MultiplyMatrix(const TMatrix& a, const TMatrix& b, TMatrix& c) {
  if (Columns(a) != Rows(b)) InvalidOperation();
  TMatrix product;
  SetMatrixSize(product, Rows(a), Columns(b));
  for (int i = 0; i < Rows(a); ++i)
    for (int j = 0; j < Columns(b); ++j) {
      double s = 0;
      for (int k = 0; k < Columns(a); ++k) s += a[size_t(i)][size_t(k)] * b[size_t(k)][size_t(j)];
      product[size_t(i)][size_t(j)] = s;
    }
  c = std::move(product);
}

void InvertMatrix(const TMatrix& a, TMatrix& r) {
  const int n = Rows(a);
  if (n != Columns(a)) InvalidOperation();
  TMatrix w = a;
  TMatrix inv;
  SetMatrixSize(inv, n, n);
  for (int i = 0; i < n; ++i) inv[size_t(i)][size_t(i)] = 1.0;

  // Forward elimination with partial pivoting (the first of equal pivots wins).
  for (int p = 0; p < n - 1; ++p) {
    int pivot = -1;
    double best = 0;
    for (int f = p; f < n; ++f) {
      double v = std::fabs(w[size_t(f)][size_t(p)]);
      if (v > best) {
        best = v;
        pivot = f;
      }
    }
    if (pivot < 0) Singular();
    std::swap(w[size_t(p)], w[size_t(pivot)]);
    std::swap(inv[size_t(p)], inv[size_t(pivot)]);
    for (int i = p + 1; i < n; ++i) {
      double factor = w[size_t(i)][size_t(p)] / w[size_t(p)][size_t(p)];
      for (int j = p + 1; j < n; ++j) w[size_t(i)][size_t(j)] -= w[size_t(p)][size_t(j)] * factor;
      for (int k = 0; k < n; ++k) inv[size_t(i)][size_t(k)] -= inv[size_t(p)][size_t(k)] * factor;
    }
  }
  // The last diagonal element is never searched for a pivot; a zero there means the matrix is
  // singular and would otherwise be divided by below.
  if (n > 0 && !(std::fabs(w[size_t(n - 1)][size_t(n - 1)]) > 0)) Singular();

  // Back substitution; W right of the diagonal is no longer needed and stays as it is.
  for (int row = n - 1; row >= 1; --row)
    for (int j = 0; j < row; ++j) {
      double factor = w[size_t(j)][size_t(row)] / w[size_t(row)][size_t(row)];
      for (int k = 0; k < n; ++k) inv[size_t(j)][size_t(k)] -= inv[size_t(row)][size_t(k)] * factor;
    }
  for (int p = 0; p < n; ++p) {
    double scale = 1.0 / w[size_t(p)][size_t(p)];
    for (int k = 0; k < n; ++k) inv[size_t(p)][size_t(k)] *= scale;
  }
  r = std::move(inv);
}

}  // namespace qvl
