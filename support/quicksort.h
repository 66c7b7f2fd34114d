// The quicksort shared by myqsort and static_sort_data: the middle element
// as pivot, a partition in which elements equal to the pivot stop both walks
// (so equal runs split evenly), and an explicit stack of ranges on which the
// larger part is pushed, so that 32 places cover any int-sized array.
//
// compare(a, b) compares the elements at positions a and b; swap(a, b)
// exchanges them. Internal to the support library.
#ifndef SUPPORT_QUICKSORT_H
#define SUPPORT_QUICKSORT_H

template <class Compare, class Swap>
void quicksort_positions(int count, Compare compare, Swap swap)
{
    struct range {
        int lo, hi;
    } stack[32];
    int depth = 0;
    if (count < 2)
        return;
    stack[depth++] = {0, count - 1};
    while (depth > 0) {
        --depth;
        int lo = stack[depth].lo, hi = stack[depth].hi;
        while (lo < hi) {
            int middle = lo + (hi - lo) / 2;
            if (middle != lo)
                swap(middle, lo);
            int i = lo + 1, j = hi;
            for (;;) {
                while (i < j && compare(lo, i) > 0)
                    i++;
                while (j >= i && compare(j, lo) > 0)
                    j--;
                if (i >= j)
                    break;
                swap(i, j);
                i++;
                j--;
            }
            if (j != lo)
                swap(lo, j);
            if (j - lo <= hi - j) {
                if (j + 1 < hi)
                    stack[depth++] = {j + 1, hi};
                hi = j - 1;
            } else {
                if (j - 1 > lo)
                    stack[depth++] = {lo, j - 1};
                lo = j + 1;
            }
        }
    }
}

#endif
