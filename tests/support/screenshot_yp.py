#!/usr/bin/env python3
"""A local YP for screenshots: two directories of realistic channels on 127.0.0.1.

/yp1/index.txt answers in UTF-8, /yp2/index.txt in CP932. The first request of each directory
gets the first state; every later one the second, in which some channels ended, some are new
and listener counts moved, so a second refresh shows every change mark.

Usage: screenshot_yp.py PORTFILE   (listens on a free port and writes it to PORTFILE)
"""
import http.server
import random
import sys
import threading
import urllib.parse

NAMES = [
    "ゆっくり雑談配信", "深夜のまったりゲーム実況", "【初見歓迎】レトロゲーム攻略", "お絵かき作業中",
    "ラジオ風トーク", "東方シリーズ耐久", "ピアノ練習枠", "将棋の研究", "釣り実況＠瀬戸内",
    "プログラミング作業", "料理してみた", "テスト配信", "麻雀で遊ぼう", "ギター弾き語り",
    "アニメ感想会", "鉄道旅の記録", "ＦＰＳ練習場", "クイズ大会", "朝までホラー", "猫カメラ",
    "競馬予想スレ実況", "ボカロ作業所", "格ゲー対戦会", "星空ライブカメラ", "写経と瞑想",
    "ＲＰＧ縛りプレイ", "英会話練習", "カードゲーム対戦", "工作の時間", "模型塗装",
    "山登り中継", "読書会", "昭和歌謡を流す", "ＤＪミックス", "天気予報ごっこ", "新作ゲーム初見",
]
GENRES = ["ゲーム", "雑談", "音楽", "作業", "ラジオ", "実況", "お絵かき", "スポーツ", ""]
DETAILS = ["まったり進行", "初見さん歓迎", "コメント読みます", "無言配信", "ネタバレ注意", "", "高画質テスト中"]
TYPES = ["WMV", "FLV", "MKV", "WMV", "FLV", "RAW"]


def channel(i, name, listeners, minutes, contact_kind):
    rng = random.Random(i)
    cid = "%032X" % (0x1234567 * (i + 1) * 2654435761 % (1 << 128))
    if contact_kind == 0:
        contact = "http://jbbs.example.jp/bbs/read.cgi/game/%d/" % (40000 + i)
    else:
        contact = "http://www.example.com/%d/" % i
    bitrate = rng.choice([300, 500, 800, 1200, 2000])
    kind = TYPES[i % len(TYPES)]
    fields = [
        name, cid, "10.0.%d.%d:7144" % (i // 200, i % 200 + 1), contact,
        GENRES[i % len(GENRES)], DETAILS[i % len(DETAILS)], str(listeners), str(max(0, listeners // 3)),
        str(bitrate), kind, "", "", "", "", urllib.parse.quote(name),
        "%d:%02d" % (minutes // 60, minutes % 60), "click", "コメント%d" % i if i % 4 == 0 else "", "", "0",
    ]
    return "<>".join(fields)


def index(yp, second):
    lines = []
    for i, name in enumerate(NAMES):
        if i % 2 != yp:
            continue
        if second and i % 9 == 4:
            continue  # ended
        listeners = (i * 37) % 120
        minutes = 10 + i * 13
        if second:
            listeners += (i % 3 - 1) * 15
            minutes += 10
        lines.append(channel(i, name, max(listeners, 0), minutes, i % 3))
    if second:
        for j, name in enumerate(["【新番組】はじめての配信", "緊急生放送", "夜更かし雑談"]):
            if j % 2 == yp or j == 2:
                lines.append(channel(100 + j + yp * 10, name, 5 + j * 40, 2, 0))
    return "\r\n".join(lines) + "\r\n"


class Handler(http.server.BaseHTTPRequestHandler):
    hits = {}
    lock = threading.Lock()

    def do_GET(self):
        path = self.path.split("?")[0]
        if path not in ("/yp1/index.txt", "/yp2/index.txt"):
            self.send_error(404)
            return
        with Handler.lock:
            count = Handler.hits.get(path, 0)
            Handler.hits[path] = count + 1
        yp = 0 if path.startswith("/yp1") else 1
        sys.stderr.write("screenshot_yp: %s answered with state %d\n" % (path, 2 if count > 0 else 1))
        text = index(yp, count > 0)
        body = text.encode("utf-8" if yp == 0 else "cp932")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(sys.argv[1], "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
