# A second, independent implementation of the filters' integer arithmetic (detail
# enhancement in both colour formats and levels, the bicubic scaler), written plainly
# for clarity rather than speed. ReferenceModelTest compares its checksums with the C++
# kernels' on the same synthetic pictures, so a change of rounding, shift, clamp or
# table building in either shows up.
import math

def lcg(seed):
    state = [seed & 0xffffffff]
    def nxt():
        state[0] = (state[0] * 1664525 + 1013904223) & 0xffffffff
        return state[0] >> 8
    return nxt

def synthetic(w, h, bpp, index):
    f = bytearray(w * h * bpp)
    g = lcg(0x9E3779B9 + index)
    bx = (index * 13) % (w - 40 if w > 40 else 1)
    by = (index * 7) % (h - 30 if h > 30 else 1)
    for y in range(h):
        for x in range(w):
            inbox = bx <= x < bx + 40 and by <= y < by + 30
            for c in range(bpp):
                v = (x * 255 // (w - 1 if w > 1 else 1) + y * 3 + index * 5 + c * 40) % 256
                v = v // 2 + 40 + g() % 24
                if inbox:
                    v = 255 - v // 3
                f[(y * w + x) * bpp + c] = v
    return f

def fnv(data):
    h = 1469598103934665603
    for b in data:
        h ^= b
        h = (h * 1099511628211) & 0xffffffffffffffff
    return '%016x' % h

def sat(v): return max(0, min(255, v))

def refl(i, n):
    if i < 0: i = -i
    if i >= n: i = 2 * (n - 1) - i
    return i

def fwd(x):
    n = len(x); half = n // 2
    X = lambda i: x[refl(i, n)]
    d = [x[2*k+1] - ((9 * (X(2*k) + X(2*k+2)) - (X(2*k-2) + X(2*k+4)) + 8) >> 4) for k in range(half)]
    s = [x[2*k] + ((d[max(k-1, 0)] + d[k] + 2) >> 2) for k in range(half)]
    return s + d

def inv(c):
    n = len(c); half = n // 2
    s = c[:half]; d = c[half:]
    x = [0] * n
    for k in range(half):
        x[2*k] = s[k] - ((d[max(k-1, 0)] + d[k] + 2) >> 2)
    X = lambda i: x[refl(i, n)]
    for k in range(half):
        x[2*k+1] = d[k] + ((9 * (X(2*k) + X(2*k+2)) - (X(2*k-2) + X(2*k+4)) + 8) >> 4)
    return x

def tdiv(a, b):  # truncating division
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q

def m(t):
    if t > 48: return 48 + tdiv(2 * t - 96, 3)
    if t < -48: return -48 + tdiv(2 * t + 96, 3)
    return t

def rows(P, w, h, fn):
    for y in range(h):
        P[y][:w] = fn(P[y][:w])

def cols(P, w, h, fn):
    for x in range(w):
        col = fn([P[y][x] for y in range(h)])
        for y in range(h):
            P[y][x] = col[y]

def tone():
    flat = {34, 44, 53, 63, 73, 82, 92, 102, 111, 121, 130, 140, 150, 159, 169, 179, 188, 198, 207, 217, 227, 236, 246}
    T = [2 * i for i in range(24)] + [47]
    for i in range(25, 256):
        T.append(T[-1] + (0 if i in flat else 1))
    return T

def enhance(lum, w, h, level):
    P = [lum[y*w:(y+1)*w] for y in range(h)]
    rows(P, w, h, fwd); cols(P, w, h, fwd)
    rows(P, w // 2, h // 2, fwd); cols(P, w // 2, h // 2, fwd)
    for y in range(h // 4):
        for x in range(w // 4):
            P[y][x] = 127 + m(P[y][x] - 127)
    cols(P, w // 2, h // 2, inv); rows(P, w // 2, h // 2, inv)
    cols(P, w, h, inv); rows(P, w, h, inv)
    out = [sat(v) for row in P for v in row]
    if level >= 2:
        L = len(out); hist = [0] * 256
        for v in out: hist[v] += 1
        D = L - hist[0] + 1; T = tone()
        for k in range(1, 255):
            hist[k+1] += hist[k]
            hist[k] = T[(hist[k] * 256) // D]
        hist[0] = 0; hist[255] = 255
        out = [(hist[v] + 4 * v + 2) // 5 for v in out]
    return out

def enh_frame(f, w, h, fmt, level):
    f = bytearray(f)
    if fmt == 0:
        lum = [f[2*i] for i in range(w*h)]
        out = enhance(lum, w, h, level)
        for i in range(w*h): f[2*i] = out[i]
        return f
    lum = []; cb = [0] * (w//2 * h//2); cr = [0] * (w//2 * h//2)
    for y in range(h):
        for x in range(w):
            b, g, r = f[(y*w+x)*3:(y*w+x)*3+3]
            lum.append(sat((9798*r + 19235*g + 3736*b + 16384) >> 15))
        if y % 2 == 0:
            for x in range(w // 2):
                sb = sr = 0
                for i in range(2):
                    b, g, r = f[(y*w+2*x+i)*3:(y*w+2*x+i)*3+3]
                    sb += sat((-5529*r - 10855*g + 16384*b + 128*32768 + 16384) >> 15)
                    sr += sat((16384*r - 13720*g - 2664*b + 128*32768 + 16384) >> 15)
                cb[(y//2)*(w//2)+x] = sb >> 1; cr[(y//2)*(w//2)+x] = sr >> 1
    out = enhance(lum, w, h, level)
    t = lambda k, v: int(math.floor(k * (v - 128) * 128 + 0.5)) if k * (v - 128) >= 0 else -int(math.floor(-k * (v - 128) * 128 + 0.5))
    for y in range(h):
        for x in range(w):
            Y = out[y*w+x]; u = cb[(y//2)*(w//2)+x//2]; v = cr[(y//2)*(w//2)+x//2]
            B = Y + ((t(1.772, u) + 64) >> 7)
            G = Y + ((t(-0.34414, u) + t(-0.71414, v) + 64) >> 7)
            R = Y + ((t(1.402, v) + 64) >> 7)
            f[(y*w+x)*3:(y*w+x)*3+3] = bytes([sat(B), sat(G), sat(R)])
    return f

def kernel(x, B=0.0, C=1.0):
    a = abs(x)
    if a < 1: return ((12 - 9*B - 6*C)*a**3 + (-18 + 12*B + 6*C)*a**2 + (6 - 2*B)) / 6
    if a < 2: return ((-B - 6*C)*a**3 + (6*B + 30*C)*a**2 + (-12*B - 48*C)*a + (8*B + 24*C)) / 6
    return 0.0

def table(S, D):
    g = min(D / S, 1.0)
    n = min(math.ceil(2.0 / g * 2), S)
    c = (S - D) / (2 * D); out = []
    for i in range(D):
        last = min(math.floor(c + 2.0 / g), S - 1)
        first = max(last - n + 1, 0)
        raw = [kernel(g * (first + j - c)) for j in range(n)]
        s = sum(raw); run = 0.0; prev = 0; ws = []
        for j in range(n):
            run += raw[j] / s
            r = math.floor(run * 16384 + 0.5); ws.append(r - prev); prev = r
        out.append((first, ws)); c += S / D
    return out

def scale(src, sw, sh, dw, dh):
    if sw == dw and sh == dh: return bytearray(src)
    mid = src; mw = sw
    if sw != dw:
        L = table(sw, dw); Cc = table(sw // 2, dw // 2)
        mid = bytearray(dw * 2 * sh)
        for y in range(sh):
            row = src[y*sw*2:(y+1)*sw*2]; o = y * dw * 2
            for i, (f, ws) in enumerate(L):
                mid[o + 2*i] = sat((sum(w * row[2*(f+j)] for j, w in enumerate(ws)) + 8192) >> 14)
            for p, (f, ws) in enumerate(Cc):
                mid[o + 4*p + 1] = sat((sum(w * row[4*(f+j)+1] for j, w in enumerate(ws)) + 8192) >> 14)
                mid[o + 4*p + 3] = sat((sum(w * row[4*(f+j)+3] for j, w in enumerate(ws)) + 8192) >> 14)
            if dw % 2: mid[o + 2*(dw-1) + 1] = mid[o + 4*(len(Cc)-1) + 1]
        mw = dw
    if sh == dh: return mid
    V = table(sh, dh); out = bytearray(dw * 2 * dh); rb = dw * 2
    for r, (f, ws) in enumerate(V):
        for b in range(rb):
            out[r*rb + b] = sat(sum(w * mid[(f+j)*rb + b] for j, w in enumerate(ws)) >> 14)
    return out

w, h = 48, 32
for fmt in range(2):
    for level in (1, 2):
        f = synthetic(w, h, 2 if fmt == 0 else 3, 1)
        print('enh fmt%d level%d %s' % (fmt, level, fnv(enh_frame(f, w, h, fmt, level))))
for sw, sh, dw, dh in [(22, 18, 44, 36), (44, 36, 22, 18), (21, 9, 47, 13), (30, 20, 30, 47)]:
    print('scale %dx%d-%dx%d %s' % (sw, sh, dw, dh, fnv(scale(synthetic(sw, sh, 2, 2), sw, sh, dw, dh))))
