# The converter's default run (-t 70 -c 2147483647 -m 1 -i 1 -j 20) for plain tick files:
# the yardstick of bench/run.sh. Give the file twice: the first pass counts its lines.
#   usage: mawk -f bench/convert.awk FS=@ FILE FS=, FILE  (counting needs no fields)
NR == FNR { lines++; next }
FNR == 1 { rest = lines % 70; left = rest ? rest : 70 }
{
    if (NF >= 4) {
        price = $(NF - 1) + 0
        if (!used) { tt = $(NF - 2); cl = price; high = low = price; used = 1 }
        op = price
        if (price < low) low = price
        if (!(price < high)) high = price
    }
    if (--left == 0) {
        n++; T[n] = tt; O[n] = op; H[n] = high; L[n] = low; C[n] = cl
        used = 0; tt = ""; op = high = low = cl = 0; left = 70
    }
}
END {
    # Rows: 0 is the placeholder, 1..n the candles newest first. The seed (the mean of the
    # oldest 20 closes) stands one row in front of the oldest of them; each row in front of
    # it takes the cl of the row behind it.
    s = 20; C[0] = 0
    for (r = 0; r <= n; r++) E[r] = 0
    if (n >= s) {
        sum = 0
        for (r = n; r > n - s; r--) sum += C[r]
        seed = n - s; E[seed] = sum / s
        for (r = seed - 1; r >= 0; r--) E[r] = ((s - 1) * E[r + 1] + (C[r + 1] + C[r + 1])) / (s + 1)
    }
    print "Date,Open,High,Low,Close,ema(20)"
    printf "+00001,0,0,0,0,%g\n", E[0]
    for (r = 1; r <= n; r++) printf "%s,%g,%g,%g,%g,%g\n", T[r], O[r], H[r], L[r], C[r], E[r]
}
