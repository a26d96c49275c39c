# Draws vellumbrook's CSV as a candlestick chart of its newest candles: rising candles green,
# falling ones red, the EMA as a line over them (its rows before the seed print 0 and are
# left out), and the Date texts as x labels, thinned to about twelve. Takes the table as the
# converter writes it, newest first, with or without its header and its placeholder rows
# (which are passed over), so it needs no other tool, on Windows too.
#   gnuplot -e "input='candles.csv'; output='candles.png'" candlesticks.gp
# The output's ending picks PNG (pngcairo) or SVG; size='W,H' in pixels (default 1200,600);
# last=N draws the newest N candles (default 200). For the whole history, zoomed and panned,
# write a page with vellumbrook-chart.
if (!exists("input") || !exists("output")) {
    print "usage: gnuplot -e \"input='candles.csv'; output='candles.png'\" candlesticks.gp"
    exit status 2
}
if (!exists("size")) size = "1200,600"
if (!exists("last")) last = 200
set datafile separator ","
# The header and the placeholder rows stand at the top; the candles follow, newest first.
stats input using (strcol(1) eq "Date" ? 1 : 0):(strcol(1)[1:1] eq "+" ? 1 : 0) nooutput
skip = int(STATS_sum_x + STATS_sum_y)
candles = int(STATS_records) - skip
if (candles < 1) {
    print "no candles in " . input
    exit status 1
}
shown = candles < last ? candles : int(last)
# A table written with -q has no EMA column to draw.
stats input every ::skip using (valid(6) ? 1 : 0) nooutput
ema = STATS_sum > 0 ? sprintf(", input every ::%d::%d using @x:($6 > 0 ? $6 : NaN) with lines lw 2 lc rgb '#1f4e9c' title 'EMA'", skip, skip + shown - 1) : ""
step = shown > 12 ? int(ceil(shown / 12.0)) : 1
if (output[strlen(output)-3:] eq ".svg") {
    eval "set terminal svg size " . size . " dynamic background rgb 'white'"
} else {
    eval "set terminal pngcairo size " . size . " background rgb 'white'"
}
set output output
# The legend stands above the plot, clear of the candles.
set key outside top center horizontal
set rmargin 3
set grid ytics
set xrange [-1:shown]
set xtics rotate by 30 right font ",8" nomirror
set title sprintf("The newest %d candles of %s", shown, input) noenhanced
set style fill solid 0.8 border
rising(open, close) = close >= open ? open : NaN
falling(open, close) = close < open ? open : NaN
x = "(shown - 1 - $0)"
plot input every ::skip::skip+shown-1 \
         using @x:(rising($2, $5)):4:3:5:xtic(int($0) % step == 0 ? stringcolumn(1) : "") \
         with candlesticks lc rgb "#2e8b57" title "rising", \
     input every ::skip::skip+shown-1 using @x:(falling($2, $5)):4:3:5 \
         with candlesticks lc rgb "#c0392b" title "falling" @ema
