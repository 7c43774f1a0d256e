"""The life of an object that holds library handles: a context manager that
closes on exit, and a last close when it is collected."""


class Closing:
    def close(self):  # pragma: no cover - each holder defines it
        raise NotImplementedError

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        # Collection may come after a failed __init__ or at interpreter exit:
        # nothing may escape from here.
        try:
            self.close()
        except Exception:
            pass
