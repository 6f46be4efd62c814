#include "real_dataset.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "ipl/ipl_exception.h"

namespace lumifold {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A full-form element, padded to 8 bytes.
void element(Bytes& b, std::uint32_t type, const Bytes& data) {
  put32(b, type);
  put32(b, static_cast<std::uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  while (b.size() % 8 != 0) b.push_back(0);
}

// A double matrix of rows x columns (values column by column), stored as
// storage (9 double, 4 uint16) as the toolbox's writer chooses.
Bytes matrix(const std::string& name, int rows, int columns, const std::vector<double>& values, int storage = 9) {
  Bytes m, flags, dims, data;
  put32(flags, 6);
  put32(flags, 0);
  element(m, 6, flags);
  put32(dims, rows);
  put32(dims, columns);
  element(m, 5, dims);
  element(m, 1, Bytes(name.begin(), name.end()));
  for (const double v : values) {
    if (storage == 9) {
      std::uint8_t raw[8];
      std::memcpy(raw, &v, 8);
      data.insert(data.end(), raw, raw + 8);
    } else {
      const auto u = static_cast<std::uint16_t>(v);
      data.push_back(static_cast<std::uint8_t>(u));
      data.push_back(static_cast<std::uint8_t>(u >> 8));
    }
  }
  element(m, static_cast<std::uint32_t>(storage), data);
  Bytes whole;
  element(whole, 14, m);
  return whole;
}

Bytes cellOf(const std::string& name, const std::vector<Bytes>& cells) {
  Bytes m, flags, dims;
  put32(flags, 1);
  put32(flags, 0);
  element(m, 6, flags);
  put32(dims, 1);
  put32(dims, static_cast<std::uint32_t>(cells.size()));
  element(m, 5, dims);
  element(m, 1, Bytes(name.begin(), name.end()));
  for (const Bytes& c : cells) m.insert(m.end(), c.begin(), c.end());
  Bytes whole;
  element(whole, 14, m);
  return whole;
}

Bytes compressed(const Bytes& plain) {
  uLongf size = compressBound(plain.size());
  Bytes z(size);
  compress(z.data(), &size, plain.data(), plain.size());
  z.resize(size);
  Bytes b;
  put32(b, 15);
  put32(b, static_cast<std::uint32_t>(z.size()));
  b.insert(b.end(), z.begin(), z.end());
  return b;
}

Bytes file(const std::vector<Bytes>& elements) {
  Bytes b(128, ' ');
  b[124] = 0;
  b[125] = 1;
  b[126] = 'I';
  b[127] = 'M';
  for (const Bytes& e : elements) b.insert(b.end(), e.begin(), e.end());
  return b;
}

TEST(RealDataset, ReadsRegionsAsTheSetStoresThem) {
  // A variable before pos, pos as a compressed cell with one row stored as
  // uint16, rounded as the set's scripts round.
  const Bytes cells = compressed(cellOf("pos", {matrix("", 1, 4, {355.00000000000006, 7.5, 167.99999999999994, 23}),
                                               matrix("", 1, 4, {511, 151, 54, 21}, 4)}));
  const Bytes f = file({compressed(matrix("background_indices", 1, 1, {1})), cells});
  const std::vector<Region> r = parseRegionFile(f);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].x, 355);
  EXPECT_EQ(r[0].y, 8);
  EXPECT_EQ(r[0].width, 168);
  EXPECT_EQ(r[0].height, 23);
  EXPECT_EQ(r[1].x, 511);
  EXPECT_EQ(r[1].height, 21);
  // An uncompressed N x 4 matrix, column by column.
  const std::vector<Region> m = parseRegionFile(file({matrix("pos", 2, 4, {1, 2, 3, 4, 5, 6, 7, 8})}));
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].x, 2);
  EXPECT_EQ(m[1].y, 4);
  EXPECT_EQ(m[1].width, 6);
  EXPECT_EQ(m[1].height, 8);

  // Damaged files are refused with an exception, never read past: every
  // truncation, a flipped byte in each place, and no variable pos.
  for (std::size_t n = 0; n < f.size(); ++n) {
    EXPECT_THROW(parseRegionFile(Bytes(f.begin(), f.begin() + static_cast<long>(n))), velIPL::IPLException) << n;
  }
  for (std::size_t i = 128; i < f.size(); ++i) {
    Bytes g = f;
    g[i] ^= 0xa5;
    try {
      parseRegionFile(g);
    } catch (const velIPL::IPLException&) {
    }
  }
  EXPECT_THROW(parseRegionFile(file({matrix("other", 1, 4, {1, 2, 3, 4})})), velIPL::IPLException);
}

TEST(RealDataset, ParsesEyeSelections) {
  EXPECT_EQ(parseEyeSelection("1-9"), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(parseEyeSelection("1,3,5"), (std::vector<int>{1, 3, 5}));
  EXPECT_EQ(parseEyeSelection("7,2-3,3"), (std::vector<int>{7, 2, 3}));
  for (const char* bad : {"", "0", "19", "3-1", "1,,2", "a", "1-", "-2", "1.5"}) {
    EXPECT_THROW(parseEyeSelection(bad), velIPL::IPLException) << bad;
  }
}

TEST(RealDataset, ComputesTheProtocolFigures) {
  velIPL::DImage a(21, 15, 0.0), b(21, 15, 0.0);
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 21; ++x) {
      a.at(x, y) = (x * 7 + y * 13) % 50 + (x >= 10 ? 100 : 0);
      b.at(x, y) = a.at(x, y) + ((x + y) % 2 == 0 ? 2 : -2);
    }
  }
  // Cut to 20 x 14: every difference is 2.
  EXPECT_NEAR(protocolPsnr(a, b), 10 * std::log10(255.0 * 255.0 / 4), 1e-12);
  EXPECT_DOUBLE_EQ(protocolSsim(a, a), 1.0);
  const double s = protocolSsim(a, b);
  EXPECT_LT(s, 1.0);
  EXPECT_GT(s, 0.9);

  // Background: the top left 2 x 2 pixels; foreground: the top right ones.
  velIPL::DImage c(4, 4, 0.0);
  const double values[4][4] = {{1, 3, 10, 10}, {5, 7, 10, 14}, {0, 0, 0, 0}, {0, 0, 0, 0}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) c.at(x, y) = values[y][x];
  }
  const std::vector<Region> regions = {{0, 0, 2, 2}, {2, 0, 2, 2}};
  const RegionFigures f = regionFigures(c, regions);
  // Background 1, 3, 5, 7: mean 4, SD sqrt(20/3); foreground 10, 10, 10,
  // 14: mean 11, SD 2.
  const double bs = std::sqrt(20.0 / 3.0);
  EXPECT_NEAR(f.msr, 11.0 / 2.0, 1e-12);
  EXPECT_NEAR(f.cnr, 7.0 / std::sqrt(0.5 * (4.0 + bs * bs)), 1e-12);
  EXPECT_NEAR(f.enl, 16.0 / (bs * bs), 1e-12);

  EXPECT_NEAR(edgePreservation(a, a, {{0, 0, 5, 5}, {3, 3, 8, 6}}), 1.0, 1e-12);
  const double ep = edgePreservation(b, a, {{0, 0, 5, 5}, {3, 3, 8, 6}});
  EXPECT_LT(ep, 1.0);
  EXPECT_TRUE(std::isnan(edgePreservation(a, a, {{0, 0, 5, 5}})));
}

}  // namespace
}  // namespace lumifold
