#!/usr/bin/env python3
"""Makes a 16-bit PCM wave file lighter for the page: one channel at half the rate.

Usage: web-sound.py IN.wav OUT.wav
Each output sample is the mean of two frames of both channels, a plain low-pass before the rate
is halved. The background music of the bundled set goes from 5.6 MB to 1.4 MB so.
"""
import array
import sys
import wave


def main():
    if len(sys.argv) != 3:
        print('usage: web-sound.py IN.wav OUT.wav', file=sys.stderr)
        return 2
    with wave.open(sys.argv[1], 'rb') as source:
        channels, width, rate, frames = source.getnchannels(), source.getsampwidth(), source.getframerate(), source.getnframes()
        if width != 2 or channels not in (1, 2) or rate < 2000:
            print(f'zentrix: {sys.argv[1]}: not 16-bit PCM with one or two channels', file=sys.stderr)
            return 1
        samples = array.array('h', source.readframes(frames))
    if sys.byteorder == 'big':
        samples.byteswap()
    step = 2 * channels  # samples in two frames
    out = array.array('h', (sum(samples[i:i + step]) // step for i in range(0, len(samples) - step + 1, step)))
    if sys.byteorder == 'big':
        out.byteswap()
    with wave.open(sys.argv[2], 'wb') as target:
        target.setnchannels(1)
        target.setsampwidth(2)
        target.setframerate(rate // 2)
        target.writeframes(out.tobytes())
    return 0


if __name__ == '__main__':
    sys.exit(main())
