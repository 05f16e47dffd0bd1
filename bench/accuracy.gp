# The accuracy sweep as a log-log plot: error and bound against frequency.
# Usage: gnuplot -e "plain='SWEEP.tsv'; jitter='SWEEP-JITTER.tsv'; out='PLOT.svg'" bench/accuracy.gp
set terminal svg size 900,680 dynamic font "sans,12"
set output out
set title "Shown readings against the true input (virtual clock, 120 s per frequency)"
set logscale xy
set xrange [0.4:1.5e6]
set yrange [0.01:100]
set format x "10^{%L}"
set format y "%g"
set xlabel "input frequency (Hz)"
set ylabel "error (ppm)"
set key outside below box maxrows 4
set grid
set datafile separator "\t"
# Log axes have no zero: an exact reading is drawn on the bottom line.
clip(x) = (x < 0.01 ? 0.011 : x)
plot plain using 1:12 with linespoints lt rgb "#999999" pt 1 \
       title "bound: one count tick + last shown digit", \
     plain using 1:9 with lines lt rgb "#bbbbbb" dt 2 title "one count tick (10^6 / periodCount)", \
     plain using 1:(clip(abs($8))) with points pt 6 lc rgb "#1f77b4" \
       title "|error| of the count, last reading", \
     plain using 1:(clip($11)) with points pt 7 lc rgb "#d62728" title "worst |error| shown, no jitter", \
     jitter using 1:12 with lines lt rgb "#2ca02c" dt 3 \
       title "bound with 50 ppm jitter (+ 2 x 50 / divider)", \
     jitter using 1:(clip($11)) with points pt 2 lc rgb "#2ca02c" \
       title "worst |error| shown, 50 ppm jitter", \
     plain using 1:(strcol(4) eq "-" ? 0.015 : 1/0) with points pt 3 ps 1.5 lc rgb "black" \
       title "no reading: ranges for ever"
