// JoinCells and SplitToCells: each case builds an input, runs one pass with a
// depth and compares the answer and the regrouped copy with what is
// expected. Every case also checks that the input is unchanged (against a
// deep duplicate taken before the pass), that an array already in the
// result slot is destroyed, and that nothing is leaked.
#include "hosttest.h"
#include "varcon_internal.h"

#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

typedef int (*Pass)(const kaArray *array, kaArray **result, int depth);

int WidthOf(kaClassID c) {
    static const int widths[] = {0, 0, 0, 0, 2, 0, 8, 4, 1, 1, 2, 2, 4, 4, 8, 8};
    return c >= 0 && c <= kaUINT64_CLASS ? widths[c] : 0;
}

void PutElement(kaClassID c, void *data, int i, double v) {
    switch (c) {
    case kaDOUBLE_CLASS: static_cast<double *>(data)[i] = v; break;
    case kaSINGLE_CLASS: static_cast<float *>(data)[i] = static_cast<float>(v); break;
    case kaINT8_CLASS: static_cast<int8_t *>(data)[i] = static_cast<int8_t>(v); break;
    case kaUINT8_CLASS: static_cast<uint8_t *>(data)[i] = static_cast<uint8_t>(v); break;
    case kaCHAR_CLASS:
    case kaUINT16_CLASS: static_cast<uint16_t *>(data)[i] = static_cast<uint16_t>(v); break;
    case kaINT16_CLASS: static_cast<int16_t *>(data)[i] = static_cast<int16_t>(v); break;
    case kaINT32_CLASS: static_cast<int32_t *>(data)[i] = static_cast<int32_t>(v); break;
    case kaUINT32_CLASS: static_cast<uint32_t *>(data)[i] = static_cast<uint32_t>(v); break;
    case kaINT64_CLASS: static_cast<int64_t *>(data)[i] = static_cast<int64_t>(v); break;
    case kaUINT64_CLASS: static_cast<uint64_t *>(data)[i] = static_cast<uint64_t>(v); break;
    default: break;
    }
}

// A numeric (or char) array of the given dimensions; complex when imaginary
// values are given.
kaArray *Num(kaClassID c, std::vector<int> dims, std::vector<double> re, std::vector<double> im = {},
             bool logical = false) {
    kaArray *a = kaCreateNumericArray(static_cast<int>(dims.size()), dims.data(), c, im.empty() ? kaREAL : kaCOMPLEX);
    for (size_t i = 0; i < re.size(); ++i) PutElement(c, kaGetPr(a), static_cast<int>(i), re[i]);
    for (size_t i = 0; i < im.size(); ++i) PutElement(c, kaGetImagData(a), static_cast<int>(i), im[i]);
    if (logical) kaSetLogical(a, true);
    return a;
}

kaArray *Scalar(double v, kaClassID c = kaDOUBLE_CLASS) { return Num(c, {1, 1}, {v}); }
kaArray *Row(std::vector<double> v, kaClassID c = kaDOUBLE_CLASS) {
    return Num(c, {1, static_cast<int>(v.size())}, v);
}
kaArray *Logical(std::vector<double> v) { return Num(kaDOUBLE_CLASS, {1, static_cast<int>(v.size())}, v, {}, true); }

// Text of the given dimensions, code units in storage order.
kaArray *Text(std::vector<int> dims, std::u16string units) {
    std::vector<double> v(units.begin(), units.end());
    return Num(kaCHAR_CLASS, dims, v);
}
kaArray *Text(std::u16string units) { return Text({1, static_cast<int>(units.size())}, units); }

// A cell array holding the given arrays (null: an empty cell).
kaArray *Cells(std::vector<int> dims, std::initializer_list<kaArray *> cells) {
    kaArray *a = kaCreateCellArray(static_cast<int>(dims.size()), dims.data());
    int i = 0;
    for (kaArray *c : cells) kaSetCell(a, i++, c);
    return a;
}
kaArray *CellRow(std::initializer_list<kaArray *> cells) { return Cells({1, static_cast<int>(cells.size())}, cells); }

// A struct array with fields f and g; values element by element, field by field.
kaArray *Struct(std::vector<int> dims, std::initializer_list<kaArray *> values) {
    const char *names[] = {"f", "g"};
    kaArray *a = kaCreateStructArray(static_cast<int>(dims.size()), dims.data(), 2, names);
    int k = 0;
    for (kaArray *v : values) {
        kaSetFieldByNumber(a, k / 2, k % 2, v);
        ++k;
    }
    return a;
}

kaArray *Sparse() {
    kaArray *a = kaCreateSparse(3, 3, 2, kaREAL);
    kaGetPr(a)[0] = 5;
    kaGetIr(a)[0] = 1;
    kaGetJc(a)[1] = 1;
    kaGetJc(a)[2] = 1;
    kaGetJc(a)[3] = 1;
    return a;
}

bool SameBytes(const void *a, const void *b, size_t n) {
    if (!a || !b) return a == b;
    return memcmp(a, b, n) == 0;
}

// Deep comparison: class, dimensions, logical mark, complexity, data,
// cells, field names and field values.
::testing::AssertionResult SameArray(const kaArray *a, const kaArray *b, const std::string &at = "top") {
    if (!a || !b) {
        if (a == b) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << at << ": one array is missing";
    }
    const kaClassID c = kaGetClassID(a);
    if (c != kaGetClassID(b))
        return ::testing::AssertionFailure() << at << ": class " << c << " against " << kaGetClassID(b);
    const int nd = kaGetDimCount(a);
    if (nd != kaGetDimCount(b) || memcmp(kaGetDimensions(a), kaGetDimensions(b), sizeof(int) * nd) != 0)
        return ::testing::AssertionFailure() << at << ": dimensions differ";
    if (kaIsLogical(a) != kaIsLogical(b)) return ::testing::AssertionFailure() << at << ": logical mark differs";
    if (kaHasImagPart(a) != kaHasImagPart(b)) return ::testing::AssertionFailure() << at << ": complexity differs";
    const int n = kaGetNumberOfElements(a);
    if (c == kaCELL_CLASS) {
        for (int i = 0; i < n; ++i) {
            auto r = SameArray(kaGetCell(a, i), kaGetCell(b, i), at + " cell " + std::to_string(i));
            if (!r) return r;
        }
    } else if (c == kaSTRUCT_CLASS) {
        const int fields = kaGetFieldCount(a);
        if (fields != kaGetFieldCount(b)) return ::testing::AssertionFailure() << at << ": field counts differ";
        for (int j = 0; j < fields; ++j)
            if (std::string(kaGetFieldNameByNumber(a, j)) != kaGetFieldNameByNumber(b, j))
                return ::testing::AssertionFailure() << at << ": field names differ";
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < fields; ++j) {
                auto r = SameArray(kaGetFieldByNumber(a, i, j), kaGetFieldByNumber(b, i, j),
                                   at + " element " + std::to_string(i) + " field " + std::to_string(j));
                if (!r) return r;
            }
    } else if (c == kaSPARSE_CLASS) {
        const int nz = kaGetNzmax(a);
        if (nz != kaGetNzmax(b) || !SameBytes(kaGetPr(a), kaGetPr(b), 8u * nz) ||
            !SameBytes(kaGetIr(a), kaGetIr(b), 4u * nz) ||
            !SameBytes(kaGetJc(a), kaGetJc(b), 4u * (kaGetN(a) + 1)))
            return ::testing::AssertionFailure() << at << ": sparse contents differ";
    } else {
        const size_t bytes = size_t(n) * WidthOf(c);
        if (!SameBytes(kaGetPr(a), kaGetPr(b), bytes)) return ::testing::AssertionFailure() << at << ": data differs";
        if (!SameBytes(kaGetImagData(a), kaGetImagData(b), bytes))
            return ::testing::AssertionFailure() << at << ": imaginary data differs";
    }
    return ::testing::AssertionSuccess();
}

struct RegroupCase {
    const char *name;
    Pass pass;
    kaArray *(*input)();
    int depth;
    int answer;
    kaArray *(*expected)();  // null: no copy is handed back
};

void RunCases(const RegroupCase *cases, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        const RegroupCase &c = cases[k];
        SCOPED_TRACE(c.name);
        const int live = kaHostLiveArrays();
        {
            HostArray input(c.input());
            HostArray snapshot(kaDuplicateArray(input));
            ASSERT_NE(snapshot.get(), nullptr);
            // Whatever the result slot holds on entry is destroyed.
            kaArray *result = kaCreateDoubleMatrix(2, 2, kaREAL);
            EXPECT_EQ(c.pass(input, &result, c.depth), c.answer);
            HostArray out(result);
            if (c.expected) {
                HostArray expected(c.expected());
                EXPECT_TRUE(SameArray(out, expected));
            } else {
                EXPECT_EQ(out.get(), nullptr);
            }
            EXPECT_TRUE(SameArray(input, snapshot)) << "the input was changed";
        }
        EXPECT_EQ(kaHostLiveArrays(), live) << "arrays leaked or destroyed twice";
    }
}

class RegroupTest : public HostLeakCheck {};

const double kBig = 1099511627781.0;  // 2^40 + 5: bytes beyond the low four

const RegroupCase kJoinCases[] = {
    {"doubles in a row", JoinCells, [] { return CellRow({Scalar(1), Scalar(2), Scalar(3)}); }, 0, 3,
     [] { return Row({1, 2, 3}); }},
    {"2x2 int8 keeps the element order", JoinCells,
     [] { return Cells({2, 2}, {Scalar(1, kaINT8_CLASS), Scalar(-2, kaINT8_CLASS), Scalar(3, kaINT8_CLASS), Scalar(4, kaINT8_CLASS)}); },
     0, 4, [] { return Num(kaINT8_CLASS, {2, 2}, {1, -2, 3, 4}); }},
    {"three dimensions", JoinCells,
     [] { return Cells({1, 2, 2}, {Scalar(1), Scalar(2), Scalar(3), Scalar(4)}); }, 0, 4,
     [] { return Num(kaDOUBLE_CLASS, {1, 2, 2}, {1, 2, 3, 4}); }},
    {"eight-byte integers", JoinCells,
     [] { return CellRow({Scalar(kBig, kaINT64_CLASS), Scalar(-7, kaINT64_CLASS)}); }, 0, 2,
     [] { return Row({kBig, -7}, kaINT64_CLASS); }},
    {"unsigned 64-bit", JoinCells,
     [] { return CellRow({Scalar(kBig, kaUINT64_CLASS), Scalar(9, kaUINT64_CLASS)}); }, 0, 2,
     [] { return Row({kBig, 9}, kaUINT64_CLASS); }},
    {"uint32", JoinCells,
     [] { return CellRow({Scalar(70000, kaUINT32_CLASS), Scalar(4000000000.0, kaUINT32_CLASS)}); }, 0, 2,
     [] { return Row({70000, 4000000000.0}, kaUINT32_CLASS); }},
    {"uint16", JoinCells, [] { return CellRow({Scalar(65535, kaUINT16_CLASS), Scalar(258, kaUINT16_CLASS)}); }, 0,
     2, [] { return Row({65535, 258}, kaUINT16_CLASS); }},
    {"double beside char", JoinCells, [] { return CellRow({Scalar(1), Text(u"a")}); }, 0, 0, nullptr},
    {"an empty cell becomes 0", JoinCells, [] { return CellRow({Scalar(1), nullptr, Scalar(3)}); }, 0, 3,
     [] { return Row({1, 0, 3}); }},
    {"leading empty cell", JoinCells, [] { return CellRow({nullptr, Scalar(5)}); }, 0, 2, [] { return Row({0, 5}); }},
    {"a cell without elements gives 0", JoinCells,
     [] { return CellRow({Num(kaDOUBLE_CLASS, {0, 0}, {}), Scalar(4)}); }, 0, 2, [] { return Row({0, 4}); }},
    {"each cell gives its first element", JoinCells, [] { return CellRow({Row({1, 2}), Scalar(3)}); }, 0, 2,
     [] { return Row({1, 3}); }},
    {"one cell of text is copied", JoinCells, [] { return CellRow({Text(u"abc")}); }, 0, 1,
     [] { return Text(u"abc"); }},
    {"one cell of 2x2 text keeps its shape", JoinCells, [] { return CellRow({Text({2, 2}, u"ab\u263Ad")}); }, 0, 1,
     [] { return Text({2, 2}, u"ab\u263Ad"); }},
    {"one cell of logical text loses the mark", JoinCells,
     [] { return CellRow({Num(kaCHAR_CLASS, {1, 2}, {'x', 'y'}, {}, true)}); }, 0, 1, [] { return Text(u"xy"); }},
    {"one cell of empty text", JoinCells, [] { return CellRow({Text(u"")}); }, 0, 0, nullptr},
    {"single characters", JoinCells, [] { return CellRow({Text(u"a"), Text(u"\u263A")}); }, 0, 2,
     [] { return Text(u"a\u263A"); }},
    {"the first text may be longer", JoinCells, [] { return CellRow({Text(u"ab"), Text(u"c")}); }, 0, 2,
     [] { return Text(u"ac"); }},
    {"a later text must be one character", JoinCells, [] { return CellRow({Text(u"a"), Text(u"bc")}); }, 0, 0,
     nullptr},
    {"text beside a number", JoinCells, [] { return CellRow({Text(u"a"), Scalar(1)}); }, 0, 0, nullptr},
    {"logical doubles", JoinCells, [] { return CellRow({Logical({1}), nullptr, Logical({0})}); }, 0, 3,
     [] { return Num(kaDOUBLE_CLASS, {1, 3}, {1, 0, 0}, {}, true); }},
    {"one cell not logical", JoinCells, [] { return CellRow({Logical({1}), Scalar(1)}); }, 0, 2,
     [] { return Row({1, 1}); }},
    {"complex double", JoinCells, [] { return CellRow({Num(kaDOUBLE_CLASS, {1, 1}, {1}, {2}), Scalar(3)}); }, 0, 2,
     [] { return Num(kaDOUBLE_CLASS, {1, 2}, {1, 3}, {2, 0}); }},
    // The imaginary parts of other classes are carried too, not dropped.
    {"complex single", JoinCells,
     [] { return CellRow({Num(kaSINGLE_CLASS, {1, 1}, {1}, {2}), Scalar(3, kaSINGLE_CLASS)}); }, 0, 2,
     [] { return Num(kaSINGLE_CLASS, {1, 2}, {1, 3}, {2, 0}); }},
    {"complex int16", JoinCells,
     [] { return CellRow({Scalar(5, kaINT16_CLASS), Num(kaINT16_CLASS, {1, 1}, {-6}, {7})}); }, 0, 2,
     [] { return Num(kaINT16_CLASS, {1, 2}, {5, -6}, {0, 7}); }},
    {"sparse cells are not joined", JoinCells, [] { return CellRow({Sparse(), Sparse()}); }, 0, 0, nullptr},
    {"all cells empty", JoinCells, [] { return CellRow({nullptr, nullptr}); }, 0, 0, nullptr},
    {"0x0 cell", JoinCells, [] { return Cells({0, 0}, {}); }, 0, 0, nullptr},
    {"0x0 struct", JoinCells, [] { return Struct({0, 0}, {}); }, 0, 0, nullptr},
    {"numeric input", JoinCells, [] { return Row({1, 2}); }, 0, 0, nullptr},
    {"negative depth counts as 0", JoinCells, [] { return CellRow({Scalar(1), Scalar(2)}); }, -3, 2,
     [] { return Row({1, 2}); }},
    {"cells of cells at depth 0", JoinCells,
     [] { return CellRow({CellRow({Scalar(1), Scalar(2)}), CellRow({Scalar(3)})}); }, 0, 0, nullptr},
    {"depth 1 joins the inner cells", JoinCells,
     [] { return CellRow({CellRow({Scalar(1), Scalar(2)}), CellRow({Scalar(3)})}); }, 1, 3,
     [] { return CellRow({Row({1, 2}), Row({3})}); }},
    {"depth 1: a part that does not join stays", JoinCells,
     [] { return CellRow({CellRow({Scalar(1), Text(u"a")}), Scalar(9), nullptr, CellRow({Scalar(2)})}); }, 1, 1,
     [] { return CellRow({CellRow({Scalar(1), Text(u"a")}), Scalar(9), nullptr, Row({2})}); }},
    {"depth 1 on a flat cell", JoinCells, [] { return CellRow({Scalar(1), Scalar(2)}); }, 1, 0, nullptr},
    {"depth 2", JoinCells, [] { return CellRow({CellRow({CellRow({Scalar(1), Scalar(2)})})}); }, 2, 2,
     [] { return CellRow({CellRow({Row({1, 2})})}); }},
    {"struct with cell fields", JoinCells,
     [] { return Struct({1, 2}, {CellRow({Scalar(1), Scalar(2)}), Text(u"keep"), Scalar(7), CellRow({Scalar(3)})}); },
     0, 3, [] { return Struct({1, 2}, {Row({1, 2}), Text(u"keep"), Scalar(7), Row({3})}); }},
    {"struct inside a cell at depth 1", JoinCells,
     [] { return CellRow({Struct({1, 1}, {CellRow({Scalar(1), Scalar(2)}), nullptr})}); }, 1, 2,
     [] { return CellRow({Struct({1, 1}, {Row({1, 2}), nullptr})}); }},
    {"struct without cells", JoinCells, [] { return Struct({1, 1}, {Scalar(1), Text(u"x")}); }, 0, 0, nullptr},
};

const RegroupCase kSplitCases[] = {
    {"2x2 doubles", SplitToCells, [] { return Num(kaDOUBLE_CLASS, {2, 2}, {1, 2, 3, 4}); }, 0, 4,
     [] { return Cells({2, 2}, {Scalar(1), Scalar(2), Scalar(3), Scalar(4)}); }},
    {"three dimensions", SplitToCells, [] { return Num(kaINT8_CLASS, {2, 1, 2}, {1, -2, 3, 4}); }, 0, 4,
     [] {
         return Cells({2, 1, 2}, {Scalar(1, kaINT8_CLASS), Scalar(-2, kaINT8_CLASS), Scalar(3, kaINT8_CLASS), Scalar(4, kaINT8_CLASS)});
     }},
    {"eight-byte integers", SplitToCells, [] { return Row({kBig, -7}, kaINT64_CLASS); }, 0, 2,
     [] { return CellRow({Scalar(kBig, kaINT64_CLASS), Scalar(-7, kaINT64_CLASS)}); }},
    {"uint16", SplitToCells, [] { return Row({65535, 258}, kaUINT16_CLASS); }, 0, 2,
     [] { return CellRow({Scalar(65535, kaUINT16_CLASS), Scalar(258, kaUINT16_CLASS)}); }},
    {"singles", SplitToCells, [] { return Row({1.5, -2.25}, kaSINGLE_CLASS); }, 0, 2,
     [] { return CellRow({Scalar(1.5, kaSINGLE_CLASS), Scalar(-2.25, kaSINGLE_CLASS)}); }},
    {"a text row stays whole", SplitToCells, [] { return Text(u"abc"); }, 0, 1,
     [] { return CellRow({Text(u"abc")}); }},
    {"2x2 text", SplitToCells, [] { return Text({2, 2}, u"ab\u263Ad"); }, 0, 4,
     [] { return Cells({2, 2}, {Text(u"a"), Text(u"b"), Text(u"\u263A"), Text(u"d")}); }},
    {"a text column", SplitToCells, [] { return Text({2, 1}, u"xy"); }, 0, 2,
     [] { return Cells({2, 1}, {Text(u"x"), Text(u"y")}); }},
    {"logical row", SplitToCells, [] { return Logical({1, 0}); }, 0, 2,
     [] { return CellRow({Logical({1}), Logical({0})}); }},
    {"complex double", SplitToCells, [] { return Num(kaDOUBLE_CLASS, {1, 2}, {1, 3}, {2, -4}); }, 0, 2,
     [] { return CellRow({Num(kaDOUBLE_CLASS, {1, 1}, {1}, {2}), Num(kaDOUBLE_CLASS, {1, 1}, {3}, {-4})}); }},
    // The imaginary parts of other classes are carried too, not dropped.
    {"complex int32", SplitToCells, [] { return Num(kaINT32_CLASS, {1, 2}, {1, 3}, {2, -4}); }, 0, 2,
     [] { return CellRow({Num(kaINT32_CLASS, {1, 1}, {1}, {2}), Num(kaINT32_CLASS, {1, 1}, {3}, {-4})}); }},
    {"0x0 double", SplitToCells, [] { return Num(kaDOUBLE_CLASS, {0, 0}, {}); }, 0, 0, nullptr},
    {"empty text", SplitToCells, [] { return Text(u""); }, 0, 0, nullptr},
    {"negative depth counts as 0", SplitToCells, [] { return Row({5}); }, -1, 1,
     [] { return CellRow({Scalar(5)}); }},
    {"a cell at depth 0 stays", SplitToCells, [] { return CellRow({Row({1, 2})}); }, 0, 0, nullptr},
    {"depth 1", SplitToCells, [] { return CellRow({Row({1, 2}), Text(u"ab")}); }, 1, 3,
     [] { return CellRow({CellRow({Scalar(1), Scalar(2)}), CellRow({Text(u"ab")})}); }},
    {"depth 1: inner cells stay", SplitToCells, [] { return CellRow({CellRow({Row({1, 2})}), nullptr, Scalar(4)}); },
     1, 1, [] { return CellRow({CellRow({Row({1, 2})}), nullptr, CellRow({Scalar(4)})}); }},
    {"depth 2", SplitToCells, [] { return CellRow({CellRow({Row({1, 2})})}); }, 2, 2,
     [] { return CellRow({CellRow({CellRow({Scalar(1), Scalar(2)})})}); }},
    {"sparse", SplitToCells, [] { return Sparse(); }, 0, -6, nullptr},
    {"unknown class", SplitToCells, [] { return kaCreateNumericMatrix(1, 1, kaUNKNOWN_CLASS, kaREAL); }, 0, -6,
     nullptr},
    {"object class", SplitToCells, [] { return kaCreateNumericMatrix(1, 1, kaOBJECT_CLASS, kaREAL); }, 0, -6, nullptr},
    {"function class", SplitToCells, [] { return kaCreateNumericMatrix(1, 1, kaFUNCTION_CLASS, kaREAL); }, 0, -6,
     nullptr},
    {"opaque class", SplitToCells, [] { return kaCreateNumericMatrix(1, 1, kaOPAQUE_CLASS, kaREAL); }, 0, -6,
     nullptr},
    {"a sparse part makes the sum -4", SplitToCells, [] { return CellRow({Sparse(), Row({1, 2})}); }, 1, -4,
     nullptr},
    {"a sparse part among larger ones", SplitToCells, [] { return CellRow({Sparse(), Row({1, 2, 3, 4, 5, 6, 7})}); },
     1, 1, [] { return CellRow({Sparse(), CellRow({Scalar(1), Scalar(2), Scalar(3), Scalar(4), Scalar(5), Scalar(6), Scalar(7)})}); }},
    {"struct fields at the struct's depth", SplitToCells,
     [] { return Struct({1, 1}, {Row({1, 2}), CellRow({Scalar(3)})}); }, 0, 2,
     [] { return Struct({1, 1}, {CellRow({Scalar(1), Scalar(2)}), CellRow({Scalar(3)})}); }},
    {"struct in a cell", SplitToCells, [] { return CellRow({Struct({2, 1}, {Scalar(1), nullptr, Text(u"ab"), Scalar(2)})}); },
     1, 3,
     [] { return CellRow({Struct({2, 1}, {CellRow({Scalar(1)}), nullptr, CellRow({Text(u"ab")}), CellRow({Scalar(2)})})}); }},
    {"0x0 struct", SplitToCells, [] { return Struct({0, 0}, {}); }, 0, 0, nullptr},
};

TEST_F(RegroupTest, JoinCases) { RunCases(kJoinCases, sizeof kJoinCases / sizeof kJoinCases[0]); }

TEST_F(RegroupTest, SplitCases) { RunCases(kSplitCases, sizeof kSplitCases / sizeof kSplitCases[0]); }

TEST_F(RegroupTest, NullResultPointerAndNullInput) {
    HostArray cells(CellRow({Scalar(1)}));
    for (Pass pass : {JoinCells, SplitToCells}) {
        EXPECT_EQ(pass(cells, nullptr, 0), CONV_E_INVALID_INPUT);
        kaArray *result = kaCreateDoubleMatrix(1, 1, kaREAL);
        EXPECT_EQ(pass(nullptr, &result, 0), 0);
        EXPECT_EQ(result, nullptr);
    }
}

// A copy made by one pass can be regrouped back by the other.
TEST_F(RegroupTest, SplitThenJoinGivesTheArrayBack) {
    HostArray original(Num(kaUINT16_CLASS, {2, 3}, {1, 2, 3, 4, 65535, 6}, {}, true));
    HostArray split;
    ASSERT_EQ(SplitToCells(original, split.slot(), 0), 6);
    HostArray joined;
    ASSERT_EQ(JoinCells(split, joined.slot(), 0), 6);
    EXPECT_TRUE(SameArray(joined, original));
}

}  // namespace
