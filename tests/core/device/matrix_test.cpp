#include "core/device/matrix.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

void ExpectThrowsMessage(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    FAIL() << "expected \"" << message << "\"";
  } catch (const Exception& e) {
    EXPECT_EQ(e.what(), message);
  }
}

TEST(Matrix, InversionPivotsAndScales) {
  TMatrix r;
  InvertMatrix({{0, 1}, {1, 0}}, r);
  EXPECT_EQ(r, (TMatrix{{0, 1}, {1, 0}}));
  InvertMatrix({{2, 0}, {0, 4}}, r);
  EXPECT_EQ(r, (TMatrix{{0.5, 0}, {0, 0.25}}));
  TMatrix a = {{4, 7, 2}, {3, 6, 1}, {2, 5, 3}};
  TMatrix product;
  InvertMatrix(a, r);
  MultiplyMatrix(a, r, product);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(product[i][j], i == j ? 1.0 : 0.0, 1e-12);
}

TEST(Matrix, SingularAndMisshapenMatricesFailWithTheirMessages) {
  TMatrix r;
  ExpectThrowsMessage([&] { InvertMatrix({{0, 1}, {0, 2}}, r); }, "Singular matrix");
  // Singular only in the last column: no pivot is searched there, yet it must not divide by 0.
  ExpectThrowsMessage([&] { InvertMatrix({{1, 2}, {2, 4}}, r); }, "Singular matrix");
  ExpectThrowsMessage([&] { InvertMatrix({{1, 2, 3}, {4, 5, 6}}, r); }, "Invalid matrix operation");
}

TEST(Matrix, MultiplicationNeedsMatchingInnerSizes) {
  TMatrix a, b, c;
  SetMatrixSize(a, 6, 4);
  SetMatrixSize(b, 4, 3);
  MultiplyMatrix(a, b, c);
  EXPECT_EQ(Rows(c), 6);
  EXPECT_EQ(Columns(c), 3);
  SetMatrixSize(b, 3, 4);
  ExpectThrowsMessage([&] { MultiplyMatrix(a, b, c); }, "Invalid matrix operation");
}

TEST(Matrix, TransposeAddAndResize) {
  TMatrix t;
  Transpose({{1, 2, 3}, {4, 5, 6}}, t);
  EXPECT_EQ(t, (TMatrix{{1, 4}, {2, 5}, {3, 6}}));
  TMatrix sum;
  AddMatrix({{1, 2}}, {{10, 20, 30}, {0, 0, 0}}, sum);  // B may be larger than A
  EXPECT_EQ(sum, (TMatrix{{11, 22}}));
  EXPECT_THROW(AddMatrix({{1, 2}}, {{1}}, sum), Exception);
  TMatrix m = {{1, 2}};
  SetMatrixSize(m, 2, 3);
  EXPECT_EQ(m, (TMatrix{{1, 2, 0}, {0, 0, 0}}));
}

}  // namespace
}  // namespace qvl
