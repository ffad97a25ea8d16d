"""Per-frame data (templates, a detector's boxes, filtered resizing, output names) comes out the
same from the tool, from batch.annotate on threads and from Dask workers."""

import os

from conftest import pattern

import zavimage
from zavimage import batch


def outputs(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


def test_frames_with_their_own_boxes_and_stamps_everywhere_alike(tool, cluster, tmp_path):
    frames = tmp_path / "frames"
    frames.mkdir()
    for i in range(6):
        zavimage.Image.from_array(pattern(180, 320, seed=i)).save(frames / f"f{i:03d}.bmp")
        os.utime(frames / f"f{i:03d}.bmp", (1714566896 + i, 1714566896 + i))
    csv = tmp_path / "detections.csv"
    csv.write_text("file,x,y,w,h,label,color,score\n"
                   "f000.bmp,20,30,80,40,car,yellow,0.91\n"
                   "f000.bmp,200,100,40,60,person,,0.55\n"
                   "f003.bmp,10,10,30,30,dog,#00FFFF,0.2\n"
                   "f004.bmp,100,50,60,60,\"bus, red\",,0.8\n"
                   "elsewhere.bmp,1,1,4,4\n")
    args = ["--boxes", csv, "--min-score", "0.5", "--text", "{stem} {mtime:%F %T}", "--anchor",
            "top-left", "--text", "{index}/{count} {width}x{height}", "--anchor",
            "bottom-right", "--resize", "240x135", "--format", "jpg", "--name",
            "{stem}_{index}.jpg"]
    run = tool("annotate", frames, "--out-dir", tmp_path / "tool", *args)
    assert run.stdout == ("annotate: 6 succeeded, 0 failed\n"
                          "  detections: 1 row for a file not in the batch\n")
    options = dict(boxes=csv, min_score=0.5, text="{stem} {mtime:%F %T}", anchor="top-left",
                   captions=[dict(text="{index}/{count} {width}x{height}",
                                  anchor="bottom-right")],
                   resize=(240, 135), format="jpg", name="{stem}_{index}.jpg")
    local = batch.annotate(str(frames), tmp_path / "threads", **options)
    remote = batch.annotate(str(frames), tmp_path / "cluster", client=cluster, chunk_size=2,
                            **options)
    assert local.report() == remote.report() == run.stdout
    assert outputs(tmp_path / "threads") == outputs(tmp_path / "tool")
    assert outputs(tmp_path / "cluster") == outputs(tmp_path / "tool")
    assert sorted(outputs(tmp_path / "tool")) == [f"f{i:03d}_{i + 1}.jpg" for i in range(6)]
    # the boxes were drawn where the detector put them (scaled by 3/4): f000's yellow box
    marked = zavimage.load(tmp_path / "tool" / "f000_1.jpg").array
    plain = zavimage.load(tmp_path / "tool" / "f001_2.jpg").array
    edge = (slice(40, 50), 15)  # its left side, below the captions
    assert marked[edge][:, 2].mean() > 200 and marked[edge][:, 1].mean() > 200
    assert plain[edge][:, 1:].mean() < 190  # the same place of a frame without boxes
