# Draws vellumbrook's CSV as a candlestick chart: rising candles green, falling ones red, the
# EMA as a line over them (its rows before the seed print 0 and are left out), and the Date
# texts as x labels, thinned to about twelve. Takes the table of the charting recipe: the
# header line, then the candles oldest first, no placeholder rows (-m 0).
#   gnuplot -e "input='candles.csv'; output='candles.png'" candlesticks.gp
# The output's ending picks PNG (pngcairo) or SVG; size='W,H' in pixels (default 1200,600).
if (!exists("input") || !exists("output")) {
    print "usage: gnuplot -e \"input='candles.csv'; output='candles.png'\" candlesticks.gp"
    exit status 2
}
if (!exists("size")) size = "1200,600"
set datafile separator ","
stats input using 0 nooutput
rows = STATS_records
step = rows > 12 ? int(ceil(rows / 12.0)) : 1
if (output[strlen(output)-3:] eq ".svg") {
    eval "set terminal svg size " . size . " dynamic background rgb 'white'"
} else {
    eval "set terminal pngcairo size " . size . " background rgb 'white'"
}
set output output
set key top left
set grid ytics
set xrange [-1:rows]
set xtics rotate by 30 right font ",8" nomirror
set title "Candles of " . input noenhanced
set style fill solid 0.8 border
rising(open, close) = close >= open ? open : NaN
falling(open, close) = close < open ? open : NaN
plot input using 0:(rising($2, $5)):4:3:5:xtic(int($0) % step == 0 ? stringcolumn(1) : "") \
         with candlesticks lc rgb "#2e8b57" title "rising", \
     input using 0:(falling($2, $5)):4:3:5 with candlesticks lc rgb "#c0392b" title "falling", \
     input using 0:($6 > 0 ? $6 : NaN) with lines lw 2 lc rgb "#1f4e9c" title columnheader(6)
