# Peer of event_dispatch.kez: the same walk for each made event: eight
# global callables, each inside try/except (the error fence), a capture
# phase up the parent chain, then the actor of the face and of each parent.
import time

N = 10000
hits = 0


class Event:
    __slots__ = ('type', 'face', 'key', 'flags', 'offset')

    def __init__(self, type, face):
        self.type, self.face, self.key, self.flags, self.offset = type, face, None, [], (0, 0)


class Face:
    def __init__(self, type, parent=None):
        self.type, self.parent, self.options, self.flags = type, parent, None, None
        self.actors = {'on-click': act}


def act(face, event):
    global hits
    hits += 1


def esc(f, e): return 'stop' if e.type == 'key' and e.key == '\x1b' else None
def tab(f, e): return e
def field_sync(f, e): return None
def reactors(f, e): return None
def radio(f, e): return e
def enter(f, e): return e
def debug(f, e): return None
def dragging(f, e): return None if not (f.options and 'drag-on' in f.options) else None


handlers = [esc, tab, field_sync, reactors, radio, enter, debug, dragging]


def do_safe(fn, *args):
    try:
        return fn(*args)
    except Exception as err:
        print(err)


def capture(face, event):
    if face.parent is not None:
        r = capture(face.parent, event)
        if r in ('stop', 'done'):
            return r
    return None


def awake(event, face=None):
    if face is None:
        face = event.face
        for h in handlers:
            r = do_safe(h, face, event)
            if isinstance(r, Event):
                event = r
            elif r is None or r is False:
                pass
            else:
                return r
        r = capture(face, event)
        if r in ('stop', 'done'):
            return r
    actor = face.actors.get('on-' + event.type)
    r = do_safe(actor, face, event) if actor else None
    if face.parent is not None and r not in ('done', 'continue'):
        if awake(event, face.parent) == 'stop':
            return 'stop'
    return r


w = Face('window')
p = Face('panel', w)
b = Face('button', p)
t = time.perf_counter()
for _ in range(N):
    awake(Event('click', b))
t = time.perf_counter() - t
print(N, 'events,', hits, 'actor calls,', round(N / t), 'events a second')
