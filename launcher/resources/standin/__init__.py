"""Encoders and content makers for the stand-in assets of the resources bundle."""
