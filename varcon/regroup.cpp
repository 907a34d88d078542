// Regrouping of host arrays between cell arrays of single values and plain
// arrays: JoinCells turns a cell array of scalars into one array of their
// class, SplitToCells turns an array into a cell array of 1-by-1 arrays.
// Both walk into struct arrays and, down to a given cell depth, into cell
// arrays, regrouping what they find where it lies. The input is never
// changed: whatever is regrouped goes into a copy handed back to the caller.
//
// Answers: -1 for a null result pointer, -6 for an array that cannot be
// split, 0 when nothing was regrouped, a count above 0 when a copy was made
// (the copy may be null when the host could not duplicate a walked array),
// and for walks the sum of the answers of the walked parts, negative ones
// included. A regrouped copy is handed back only with an answer above 0.
#include "varcon_internal.h"

#include <limits.h>
#include <stdint.h>
#include <string.h>

namespace {

typedef int (*RegroupPass)(const kaArray *array, kaArray **result, int depth);

// Bytes of one element, by class id, for the classes whose elements are
// joined and split: 16-bit text and the numeric classes double to uint64.
// 0 for every other class.
const int kElementWidth[kaUINT64_CLASS + 1] = {
    0, 0, 0, 0,  // unknown, cell, struct, object
    2,           // char
    0,           // sparse
    8, 4,        // double, single
    1, 1,        // int8, uint8
    2, 2,        // int16, uint16
    4, 4,        // int32, uint32
    8, 8,        // int64, uint64
};

int ElementWidth(kaClassID classID) {
    if (classID < 0 || classID > kaUINT64_CLASS) return 0;
    return kElementWidth[classID];
}

// Adds a part's answer to a walk's total, held within the range of int.
int AddAnswer(int total, int answer) {
    const int64_t sum = int64_t(total) + answer;
    if (sum > INT_MAX) return INT_MAX;
    if (sum < INT_MIN) return INT_MIN;
    return static_cast<int>(sum);
}

// A duplicate of the walked array that has the layout of the original, so
// that every place of the walk can be stored into it; null when the host
// could not make one.
kaArray *DuplicateForWalk(const kaArray *array) {
    kaArray *copy = kaDuplicateArray(array);
    if (copy && (kaGetClassID(copy) != kaGetClassID(array) ||
                 kaGetNumberOfElements(copy) != kaGetNumberOfElements(array) ||
                 kaGetFieldCount(copy) != kaGetFieldCount(array))) {
        kaDestroyArray(copy);
        copy = nullptr;
    }
    return copy;
}

// Runs the pass on every non-empty part of a struct array (its field values,
// element by element, field by field) or of a cell array (its cells), with
// partDepth. Each part that answers above 0 with a regrouped copy replaces
// that part in a copy of the array, made when first needed and tried again
// at every later such part while none exists; the value it replaces is
// destroyed. A part whose pass answered above 0 but could not hand back a
// copy keeps its old value. The answer is the sum of the parts' answers;
// *result receives the copy when that sum is above 0. A copy with a sum of
// 0 or less (a part that cannot be split beside parts that were) is never
// used, so it is destroyed here rather than handed to a caller who would
// have to know to destroy it.
int WalkParts(const kaArray *array, kaArray **result, int partDepth, RegroupPass pass) {
    const bool isStruct = kaGetClassID(array) == kaSTRUCT_CLASS;
    const int fieldCount = isStruct ? kaGetFieldCount(array) : 1;
    const int count = kaGetNumberOfElements(array);
    kaArray *copy = nullptr;
    int total = 0;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < fieldCount; ++j) {
            const kaArray *part = isStruct ? kaGetFieldByNumber(array, i, j) : kaGetCell(array, i);
            if (!part) continue;
            kaArray *regrouped = nullptr;
            const int answer = pass(part, &regrouped, partDepth);
            if (answer > 0 && !copy) copy = DuplicateForWalk(array);
            if (answer > 0 && copy && regrouped) {
                kaArray *replaced = isStruct ? kaGetFieldByNumber(copy, i, j) : kaGetCell(copy, i);
                if (isStruct) kaSetFieldByNumber(copy, i, j, regrouped);
                else kaSetCell(copy, i, regrouped);
                kaDestroyArray(replaced);
            } else {
                // Not stored: no copy to store it in, or an answer of 0 or
                // less, whose copy is not to be used.
                kaDestroyArray(regrouped);
            }
            total = AddAnswer(total, answer);
        }
    }
    if (total <= 0) {
        kaDestroyArray(copy);
        copy = nullptr;
    }
    *result = copy;
    return total;
}

// Copies the first real (and, for a complex target, imaginary) element of
// a cell's array into element index of the target data; a cell without
// elements or without data leaves the zero there.
void CopyFirstElement(const kaArray *cell, int width, int index, unsigned char *real, unsigned char *imag) {
    if (!cell || kaGetNumberOfElements(cell) < 1) return;
    const void *from = kaGetPr(cell);
    if (from) memcpy(real + size_t(index) * width, from, width);
    const void *fromImag = kaGetImagData(cell);
    if (imag && fromImag) memcpy(imag + size_t(index) * width, fromImag, width);
}

}  // namespace

int JoinCells(const kaArray *array, kaArray **result, int depth) {
    if (!result) return CONV_E_INVALID_INPUT;
    kaDestroyArray(*result);
    *result = nullptr;
    if (!array) return 0;

    const kaClassID arrayClass = kaGetClassID(array);
    if (arrayClass != kaCELL_CLASS && arrayClass != kaSTRUCT_CLASS) return 0;
    const int count = kaGetNumberOfElements(array);
    if (count < 1) return 0;
    if (depth < 0) depth = 0;
    if (arrayClass == kaSTRUCT_CLASS) return WalkParts(array, result, depth, JoinCells);
    if (depth > 0) return WalkParts(array, result, depth - 1, JoinCells);

    // A cell array at the join level: one array of its cells' first elements.
    const int dimCount = kaGetDimCount(array);
    if (dimCount < 1) return 0;
    const int *dims = kaGetDimensions(array);
    if (!dims) return 0;

    int first = 0;
    while (first < count && !kaGetCell(array, first)) ++first;
    if (first == count) return 0;
    const kaArray *firstCell = kaGetCell(array, first);
    const kaClassID joinClass = kaGetClassID(firstCell);

    // One cell holding text: a copy of that text, whatever its shape.
    if (count == 1 && joinClass == kaCHAR_CLASS) {
        const int chars = kaGetNumberOfElements(firstCell);
        const int textDimCount = kaGetDimCount(firstCell);
        const int *textDims = kaGetDimensions(firstCell);
        const void *text = kaGetPr(firstCell);
        if (chars < 1 || textDimCount < 1 || !textDims || !text) return 0;
        kaArray *joined = kaCreateCharArray(textDimCount, textDims);
        if (!joined) return 0;
        void *to = kaGetPr(joined);
        if (!to || kaGetNumberOfElements(joined) != chars) {
            kaDestroyArray(joined);
            return 0;
        }
        memcpy(to, text, size_t(chars) * sizeof(kaChar));
        *result = joined;
        return 1;
    }

    bool complex = kaHasImagPart(firstCell);
    bool logical = kaIsLogical(firstCell);
    for (int i = first + 1; i < count; ++i) {
        const kaArray *cell = kaGetCell(array, i);
        if (!cell) continue;
        if (kaGetClassID(cell) != joinClass) return 0;
        if (joinClass == kaCHAR_CLASS && kaGetNumberOfElements(cell) != 1) return 0;
        complex = complex || kaHasImagPart(cell);
        logical = logical && kaIsLogical(cell);
    }
    const int width = ElementWidth(joinClass);
    if (width == 0) return 0;

    kaArray *joined = kaCreateNumericArray(dimCount, dims, joinClass, complex ? kaCOMPLEX : kaREAL);
    if (!joined) return 0;
    unsigned char *real = static_cast<unsigned char *>(static_cast<void *>(kaGetPr(joined)));
    unsigned char *imag = static_cast<unsigned char *>(kaGetImagData(joined));
    if (!real || (complex && !imag) || kaGetNumberOfElements(joined) != count) {
        kaDestroyArray(joined);
        return 0;
    }
    if (logical) kaSetLogical(joined, true);
    for (int i = 0; i < count; ++i) CopyFirstElement(kaGetCell(array, i), width, i, real, complex ? imag : nullptr);
    *result = joined;
    return count;
}

int SplitToCells(const kaArray *array, kaArray **result, int depth) {
    if (!result) return CONV_E_INVALID_INPUT;
    kaDestroyArray(*result);
    *result = nullptr;
    if (!array) return 0;

    if (depth < 0) depth = 0;
    const kaClassID arrayClass = kaGetClassID(array);
    const bool container = arrayClass == kaCELL_CLASS || arrayClass == kaSTRUCT_CLASS;
    // Unknown, object, sparse, function and opaque arrays (and ids outside
    // the host's classes) hold no elements that could be split.
    if (!container && ElementWidth(arrayClass) == 0) return CONV_E_UNSUPPORTED_ARRAY;
    if (arrayClass == kaCELL_CLASS && depth == 0) return 0;
    const int count = kaGetNumberOfElements(array);
    if (count < 1) return 0;
    if (arrayClass == kaCELL_CLASS) return WalkParts(array, result, depth - 1, SplitToCells);
    if (arrayClass == kaSTRUCT_CLASS) return WalkParts(array, result, depth, SplitToCells);

    const int dimCount = kaGetDimCount(array);
    if (dimCount < 1) return 0;
    const int *dims = kaGetDimensions(array);
    if (!dims) return 0;

    // A row of text stays whole, in a 1-by-1 cell.
    if (arrayClass == kaCHAR_CLASS && dimCount == 2 && dims[0] == 1) {
        kaArray *cells = kaCreateCellMatrix(1, 1);
        if (!cells) return 0;
        kaArray *row = kaDuplicateArray(array);
        if (!row) {
            kaDestroyArray(cells);
            return 0;
        }
        kaSetCell(cells, 0, row);
        *result = cells;
        return 1;
    }

    const unsigned char *real = static_cast<const unsigned char *>(static_cast<const void *>(kaGetPr(array)));
    if (!real) return 0;
    const unsigned char *imag = static_cast<const unsigned char *>(kaGetImagData(array));
    const bool complex = kaHasImagPart(array) && imag;
    const bool logical = kaIsLogical(array);
    const int width = ElementWidth(arrayClass);

    kaArray *cells = kaCreateCellArray(dimCount, dims);
    if (!cells) return 0;
    if (kaGetNumberOfElements(cells) != count) {
        kaDestroyArray(cells);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        kaArray *element = kaCreateNumericMatrix(1, 1, arrayClass, complex ? kaCOMPLEX : kaREAL);
        void *to = element ? kaGetPr(element) : nullptr;
        void *toImag = element ? kaGetImagData(element) : nullptr;
        if (!to || (complex && !toImag)) {
            kaDestroyArray(element);
            kaDestroyArray(cells);
            return 0;
        }
        memcpy(to, real + size_t(i) * width, width);
        if (complex) memcpy(toImag, imag + size_t(i) * width, width);
        if (logical) kaSetLogical(element, true);
        kaSetCell(cells, i, element);
    }
    *result = cells;
    return count;
}

RegroupPass RegroupPassOf(int32_t option) {
    if (option == REGROUP_JOIN) return JoinCells;
    if (option == REGROUP_SPLIT) return SplitToCells;
    return nullptr;
}
