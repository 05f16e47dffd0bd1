# The accuracy sweeps as log-log plots: error and bound against frequency, and the time
# to the first reading against its budget.
# Usage: gnuplot -e "plain='A.tsv'; jitter='B.tsv'; slow='C.tsv'; slowjitter='D.tsv'; out='PLOT.svg'" bench/accuracy.gp
# (A: answers at once; B: with 50 ppm jitter; C: at 9600 baud; D: 9600 baud and jitter)
set terminal svg size 900,1100 dynamic font "sans,12"
set output out
set datafile separator "\t"
set multiplot layout 2,1
set logscale xy
set xrange [0.08:1.3e6]
set format x "10^{%L}"
set format y "%g"
set xlabel "input frequency (Hz)"
set grid
set key outside below box maxrows 5

set title "Shown readings against the true input (virtual clock)"
set yrange [0.0005:30]
set ylabel "error (ppm)"
# Log axes have no zero: an exact reading is drawn on the bottom line.
clip(x) = (x < 0.0006 ? 0.00065 : x)
plot plain using 1:12 with lines lt rgb "#999999" \
       title "bound: one count tick + last shown digit", \
     plain using 1:(clip($11)) with points pt 7 ps 0.6 lc rgb "#d62728" \
       title "worst |error| shown, answers at once", \
     slow using 1:(clip($11)) with points pt 6 ps 0.8 lc rgb "#1f77b4" \
       title "worst |error| shown, 9600 baud", \
     slow using 1:12 with lines lt rgb "#1f77b4" dt 2 title "bound, 9600 baud", \
     jitter using 1:12 with lines lt rgb "#2ca02c" dt 3 \
       title "bound with 50 ppm jitter (+ 2 x 50 / divider)", \
     slowjitter using 1:12 with lines lt rgb "#9467bd" dt 3 \
       title "bound with 50 ppm jitter, 9600 baud", \
     jitter using 1:(clip($11)) with points pt 2 ps 0.6 lc rgb "#2ca02c" \
       title "worst |error| shown, 50 ppm jitter", \
     slowjitter using 1:(clip($11)) with points pt 4 ps 0.6 lc rgb "#9467bd" \
       title "worst |error| shown, 50 ppm jitter, 9600 baud", \
     plain using 1:(strcol(4) eq "-" ? 0.0006 : 1/0) with points pt 3 ps 1.5 lc rgb "black" \
       title "no reading"

set title "Time from the start to the first reading (virtual clock, no jitter)"
set yrange [1:100]
set ylabel "seconds"
plot plain using 1:18 with lines lt rgb "#999999" title "budget: two gates + 2.5 s", \
     plain using 1:(strcol(13) eq "-" ? 1/0 : $13) with points pt 7 ps 0.6 lc rgb "#d62728" \
       title "answers at once", \
     slow using 1:(strcol(13) eq "-" ? 1/0 : $13) with points pt 6 ps 0.8 lc rgb "#1f77b4" \
       title "9600 baud"
unset multiplot
